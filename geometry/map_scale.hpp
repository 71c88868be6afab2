#pragma once
// The scale of the sheets and the resolutions the program works at.

namespace georef::geometry {

// Millimetres of paper per inch (of a scan's dots per inch).
constexpr double kMillimetresPerInch = 25.4;

// Ground metres one inch of a 1:25 000 sheet covers: 0.0254 m * 25 000. A
// scan of d dpi has 635 / d metres of ground per pixel.
constexpr double kGroundMetresPerInch = 635.0;

// The highest output resolution, dpi: its 10 km tile of 26 740 pixels a side
// is the largest whose 3-byte buffer a 32-bit count addresses.
constexpr int kLargestDpi = 1698;

}  // namespace georef::geometry
