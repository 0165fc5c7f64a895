#pragma once
// What every Velmora operation signs in with, and the computer name its boxes
// start with.

namespace velmora {

inline constexpr char kLogin[] = "sa";
inline constexpr char kPassword[] = "";
inline constexpr char kDefaultComputerName[] = "localhost";

}  // namespace velmora
