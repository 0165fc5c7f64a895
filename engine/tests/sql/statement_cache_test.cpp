// The keeping rules of StatementCache: a statement is handed out only for
// its exact text and context, once, and the least recently kept go first.
#include "engine/exec/statement_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace sqlengine::exec {
namespace {

class StatementCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK); }
  void TearDown() override {
    cache_.Clear();
    sqlite3_close(db_);
  }
  catalog::PreparedStatement Compile(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v3(db_, sql.c_str(), -1, 0, &raw, nullptr), SQLITE_OK);
    return catalog::PreparedStatement(raw);
  }
  static StatementCache::Context At(std::uint64_t rules, std::uint64_t epoch,
                                    std::vector<std::int64_t> versions) {
    return {rules, epoch, std::move(versions)};
  }

  sqlite3* db_ = nullptr;
  StatementCache cache_;
};

TEST_F(StatementCacheTest, HandsOutOnlyTheSameTextInTheSameContext) {
  catalog::PreparedStatement one = Compile("SELECT 1");
  sqlite3_stmt* kept = one.get();
  cache_.Keep("SELECT 1", std::move(one), At(2, 1, {5, 0}));
  EXPECT_EQ(cache_.Take("SELECT 2", At(2, 1, {5, 0})), nullptr);
  EXPECT_EQ(cache_.Size(), 1u);
  EXPECT_EQ(cache_.Take("SELECT 1", At(2, 1, {5, 0})).get(), kept);
  // Handed out once: the run that holds it gives it back.
  EXPECT_EQ(cache_.Take("SELECT 1", At(2, 1, {5, 0})), nullptr);
}

TEST_F(StatementCacheTest, AnotherContextFindsNothingAndDropsTheStale) {
  for (const StatementCache::Context& other :
       {At(3, 1, {5, 0}), At(2, 1, {6, 0}), At(2, 1, {5, 1}), At(2, 1, {5, 0, 9})}) {
    cache_.Keep("SELECT 1", Compile("SELECT 1"), At(2, 1, {5, 0}));
    EXPECT_EQ(cache_.Take("SELECT 1", other), nullptr);
    EXPECT_EQ(cache_.Size(), 0u);
  }
}

TEST_F(StatementCacheTest, ANewEpochForgetsEverything) {
  cache_.Keep("SELECT 1", Compile("SELECT 1"), At(2, 1, {5}));
  cache_.Keep("SELECT 2", Compile("SELECT 2"), At(2, 1, {5}));
  EXPECT_EQ(cache_.Take("SELECT 3", At(2, 2, {5})), nullptr);
  EXPECT_EQ(cache_.Size(), 0u);
  cache_.Keep("SELECT 1", Compile("SELECT 1"), At(2, 1, {5}));
  cache_.Keep("SELECT 2", Compile("SELECT 2"), At(2, 2, {5}));
  EXPECT_EQ(cache_.Size(), 1u);
}

TEST_F(StatementCacheTest, KeepsABoundedNumberLeastRecentlyKeptFirstOut) {
  for (std::size_t k = 0; k <= StatementCache::kKept; ++k) {
    std::string sql = "SELECT " + std::to_string(k);
    cache_.Keep(sql, Compile(sql), At(0, 0, {}));
    if (k == 1) {
      // Used again: kept anew, so no longer the oldest.
      cache_.Keep("SELECT 0", cache_.Take("SELECT 0", At(0, 0, {})), At(0, 0, {}));
    }
  }
  EXPECT_EQ(cache_.Size(), StatementCache::kKept);
  EXPECT_EQ(cache_.Take("SELECT 1", At(0, 0, {})), nullptr);
  EXPECT_NE(cache_.Take("SELECT 0", At(0, 0, {})), nullptr);
  EXPECT_NE(cache_.Take("SELECT " + std::to_string(StatementCache::kKept), At(0, 0, {})),
            nullptr);
}

}  // namespace
}  // namespace sqlengine::exec
