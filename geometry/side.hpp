#pragma once
// A side of a sheet as seen in its scan: left and right run down the image,
// top and bottom across it.

#include <array>

namespace georef::geometry {

enum class Side : int { left = 0, top = 1, right = 2, bottom = 3 };

inline constexpr std::array<Side, 4> kSides = {Side::left, Side::top, Side::right, Side::bottom};

}  // namespace georef::geometry
