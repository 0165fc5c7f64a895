#pragma once
// Checks the multi-session tests share: a batch that must succeed, and the
// one value a batch answers.

#include <gtest/gtest.h>

#include <string>

#include "engine/tests/sql/odbc_client.h"

namespace sqlengine::testing {

inline void Must(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  ASSERT_FALSE(outcome.failed) << sql << "\n" << outcome.Describe();
}

// The first value of the first row of `sql`'s first result; the failure's
// description in <...> when there is none.
inline std::string Scalar(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  if (outcome.failed || outcome.results.empty() || outcome.results[0].rows.empty())
    return "<" + outcome.Describe() + ">";
  return outcome.results[0].rows[0][0].value_or("NULL");
}

}  // namespace sqlengine::testing
