#pragma once
// A float rounded at a decimal place the way ROUND and STR do it: on the
// 17 significant digits of its binary value, so 94.55 (stored as
// 94.549999999999997) rounds to 94.5, and halves (2.5, 0.125) go away from
// zero.

#include <string>

namespace sqlengine::values {

// |value| (finite) rounded half away from zero, or cut when `truncate`, at
// `places` digits after the point; a negative `places` rounds left of the
// point. The text has no sign and exactly max(places, 0) decimals: "94.5",
// "1000", "0.00".
std::string RoundedFloatText(double value, int places, bool truncate);

}  // namespace sqlengine::values
