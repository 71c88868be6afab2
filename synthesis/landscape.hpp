#pragma once
// One continuous made-up landscape on the ground, from which the realistic
// scans draw their map content: roads between villages, railways, rivers,
// lakes, forest, contour lines around hills, houses and names. It is defined
// everywhere by its seed alone, so two neighbouring sheets drawn separately
// show the same roads, rivers and contours crossing their shared edge.
//
// Ground frame: longitude and latitude in degrees (the graticule frame,
// longitude from Ferro). The landscape is generated in its own plane of
// metres, E = longitude * kMetresPerDegreeEast and N = latitude *
// kMetresPerDegreeNorth (a fixed scaling, no projection), in cells of
// kCellMetres; every cell's content comes from the seed and the cell's
// indices, and lines between cells from the seed and both cells.

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "synthesis/seeded_random.hpp"

namespace georef::synthesis {

// Longitude and latitude, degrees (graticule frame).
struct GroundPoint {
    double lon = 0.0;
    double lat = 0.0;
};

constexpr double kMetresPerDegreeNorth = 111200.0;
constexpr double kMetresPerDegreeEast = 72200.0;  // about 49.5 degrees north
constexpr double kCellMetres = 2000.0;

enum class LineKind { mainRoad, minorRoad, railway, river, contour, indexContour };
enum class AreaKind { forest, lake };

struct LandscapeLine {
    LineKind kind = LineKind::minorRoad;
    std::vector<GroundPoint> points;  // a few tens of metres apart
    bool closed = false;
    double widthAt300 = 1.5;          // drawn width, pixels at 300 dpi (paper)
};

struct LandscapeArea {
    AreaKind kind = AreaKind::forest;
    std::vector<GroundPoint> outline;  // closed
    int hatchDirection = 1;            // forest: hatching along E + N = c (1) or E - N = c (-1)
};

struct LandscapeHouse {
    GroundPoint centre;
    double lengthMetres = 20.0;
    double depthMetres = 10.0;
    double angleRadians = 0.0;  // of the length, counter-clockwise from east
};

struct LandscapeName {
    GroundPoint at;      // start of the text's baseline
    std::string text;
    double capHeightMillimetres = 2.5;  // on the paper
    bool serif = false;
};

struct LandscapeContent {
    std::vector<LandscapeArea> areas;
    std::vector<LandscapeLine> lines;
    std::vector<LandscapeHouse> houses;
    std::vector<LandscapeName> names;
};

class Landscape {
public:
    explicit Landscape(std::uint64_t seed) noexcept : m_seed(seed) {}

    // Everything that may show within the rectangle (degrees): it reaches
    // beyond the rectangle, so that lines run out of it on every side.
    LandscapeContent Within(const geometry::SheetGraticule& area) const;

    // Forest hatching: lines E + direction * N = c for c a whole multiple of
    // this spacing (metres).
    static constexpr double kHatchSpacingMetres = 15.0;

    static GroundPoint FromPlane(double east, double north) noexcept {
        return {east / kMetresPerDegreeEast, north / kMetresPerDegreeNorth};
    }
    static double East(const GroundPoint& p) noexcept { return p.lon * kMetresPerDegreeEast; }
    static double North(const GroundPoint& p) noexcept { return p.lat * kMetresPerDegreeNorth; }

private:
    std::uint64_t m_seed;
};

// A made-up place name of two to four syllables, capitalised.
std::string MadeUpName(SeededRandom& random);

}  // namespace georef::synthesis
