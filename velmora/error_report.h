#pragma once
// The text with which Velmora reports an outside failure: the number in
// signed decimal, ", ", the description.

#include <QString>

#include "dbplatform/error.h"

namespace velmora {

inline QString ErrorReport(const dbplatform::Error& error) {
  return QString::number(error.Number()) + QStringLiteral(", ") +
         QString::fromStdString(error.Description());
}

}  // namespace velmora
