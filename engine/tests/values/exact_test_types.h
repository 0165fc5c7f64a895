#pragma once
// The exact numeric types the stored-form tests name.

#include "engine/common/types.h"

namespace sqlengine::testing {

inline ColumnType DecimalType(int precision, int scale) {
  ColumnType type{SqlType::kDecimal};
  type.precision = precision;
  type.scale = scale;
  return type;
}

inline const ColumnType kMoney{SqlType::kMoney};
inline const ColumnType kSmallMoney{SqlType::kSmallMoney};

}  // namespace sqlengine::testing
