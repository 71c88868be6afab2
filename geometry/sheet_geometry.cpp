#include "geometry/sheet_geometry.hpp"

#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace georef::geometry {

namespace {

// Length in metres of the north edge of a cell of zone 34 + j, which is
// also the south edge of a cell of zone 33 + j.
constexpr double kCellEdgeWidth[13] = {
    34905.6, 35094.6, 35282.8, 35470.4, 35657.3, 35843.5, 36029.0,
    36213.9, 36398.0, 36581.4, 36764.2, 36946.2, 37127.5,
};

// North-south extent in metres of a cell of zone 34 + j. The last entry
// (zone 46) has no south-edge width and so no geometry.
constexpr double kCellHeight[13] = {
    27809.5, 27808.3, 27807.1, 27805.9, 27804.7, 27803.5, 27802.3,
    27801.1, 27799.9, 27798.7, 27797.5, 27796.3, 27795.1,
};

constexpr int kFirstZone = 34;

// Every sheet spans 0.25 degrees of longitude and 0.125 degrees of latitude.
// Division by a power of two and multiplication by its reciprocal round the
// same exact value, so they agree to the bit for every operand.
constexpr double kLonSpan = 0.25;
constexpr double kLatSpan = 0.125;
constexpr double kLonScale = 1.0 / kLonSpan;  // exactly 4
constexpr double kLatScale = 1.0 / kLatSpan;  // exactly 8
constexpr int kLastZone = 45;

// The fields of a sheet number; integer division and remainder truncate
// toward zero, so a negative number gives negative fields.
struct SheetFields {
    int zone;     // row of cells from the north
    int column;   // column of cells from the west
    int section;  // 1..4: NW, NE, SW, SE quarter of the cell
    int h;        // 0 west half, 1 east half
    int v;        // 0 north half, 1 south half
};

SheetFields SplitSheetNumber(int n) noexcept {
    SheetFields f{};
    f.zone = n / 1000;
    f.column = (n / 10) % 100;
    f.section = n % 10;
    f.h = (f.section - 1) % 2;
    f.v = (f.section - 1) / 2;
    return f;
}

void RequireValid(int sheetNumber) {
    if (!IsValidSheetNumber(sheetNumber)) {
        throw std::invalid_argument("sheet number " + std::to_string(sheetNumber) +
                                    " has no nominal geometry");
    }
}

}  // namespace

bool IsValidSheetNumber(int sheetNumber) noexcept {
    const SheetFields f = SplitSheetNumber(sheetNumber);
    return f.zone >= kFirstZone && f.zone <= kLastZone && f.section >= 1 && f.section <= 4;
}

std::int32_t SheetNumberFromArgument(const char* text) noexcept {
    const long sheet = std::strtol(text, nullptr, 10);
    if (sheet < std::numeric_limits<std::int32_t>::min() || sheet > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(sheet);
}

SheetGraticule MakeSheetGraticule(int sheetNumber) noexcept {
    const SheetFields f = SplitSheetNumber(sheetNumber);
    SheetGraticule g{};
    g.lonWest = (0.5 * f.column + 5.5) + 0.25 * f.h;
    g.lonEast = (0.5 * f.column + 5.75) + 0.25 * f.h;
    g.latNorth = (60.0 - 0.25 * f.zone) - 0.125 * f.v;
    g.latSouth = (59.875 - 0.25 * f.zone) - 0.125 * f.v;
    return g;
}

Matrix MakeNominalCorners(int sheetNumber) {
    RequireValid(sheetNumber);
    const SheetFields f = SplitSheetNumber(sheetNumber);
    const int i = f.zone - kFirstZone;

    const double aN = kCellEdgeWidth[i];         // north edge of the cell, m
    const double aS = kCellEdgeWidth[i + 1];     // south edge of the cell, m
    const double H = kCellHeight[i];             // height of the cell, m
    const double aOuter = kCellEdgeWidth[i + f.v];  // the edge the section lies on

    const double sx = 2 * f.h - 1;  // -1 west, +1 east
    const double sy = 1 - 2 * f.v;  // +1 north, -1 south

    // Candidate corners in the nominal frame of the cell (metres).
    struct Point {
        double x;
        double y;
    };
    const Point c0{0.0, 0.0};                              // centre of the cell
    const Point c1{0.0, sy * H / 2};                       // central meridian, outer parallel
    const Point c2{sx * aOuter / 2, sy * H / 2};           // corner of the cell
    const double edgeSum = aS + aN;                        // rounded once
    const Point c3{sx * edgeSum / 4, 0.0};                 // side edge, middle parallel

    // LD, LH, PH, PD of each section.
    Point ld{}, lh{}, ph{}, pd{};
    switch (f.section) {
    case 1: ld = c3; lh = c2; ph = c1; pd = c0; break;
    case 2: ld = c0; lh = c1; ph = c2; pd = c3; break;
    case 3: ld = c2; lh = c3; ph = c0; pd = c1; break;
    default: ld = c1; lh = c0; ph = c3; pd = c2; break;
    }

    Matrix corners(8, 1);
    corners[0][0] = ld.x;
    corners[1][0] = ld.y;
    corners[2][0] = lh.x;
    corners[3][0] = lh.y;
    corners[4][0] = ph.x;
    corners[5][0] = ph.y;
    corners[6][0] = pd.x;
    corners[7][0] = pd.y;
    return corners;
}

Matrix NominalFromGraticule(int sheetNumber, const Matrix& lonLat) {
    const SheetGraticule G = MakeSheetGraticule(sheetNumber);
    const Matrix corners = MakeNominalCorners(sheetNumber);
    double N[8];  // LD, LH, PH, PD as x, y pairs (nominal frame, metres)
    for (int k = 0; k < 8; ++k) {
        N[k] = corners[k][0];
    }
    const double lon = lonLat[0][0];
    const double lat = lonLat[1][0];

    const double dLon = G.lonEast - G.lonWest;
    const double dLat = G.latNorth - G.latSouth;

    // Each difference of positions is multiplied first, then divided by the
    // span; no fraction of the span is formed on its own.
    const double xSouth = N[0] + ((lon - G.lonWest) * (N[6] - N[0])) / dLon;
    const double xNorth = N[2] + ((lon - G.lonWest) * (N[4] - N[2])) / dLon;
    const double x = ((lat - G.latSouth) * (xNorth - xSouth)) / dLat + xSouth;

    const double ySouth = N[1] + ((lon - G.lonWest) * (N[7] - N[1])) / dLon;
    const double yNorth = N[3] + ((lon - G.lonWest) * (N[5] - N[3])) / dLon;
    const double y = ((lat - G.latSouth) * (yNorth - ySouth)) / dLat + ySouth;

    Matrix nominal(2, 1);
    nominal[0][0] = x;
    nominal[1][0] = y;
    return nominal;
}

SheetMapping::SheetMapping(int sheetNumber)
    : m_graticule(MakeSheetGraticule(sheetNumber)), m_corner{} {
    const Matrix corners = MakeNominalCorners(sheetNumber);
    for (int k = 0; k < 8; ++k) {
        m_corner[k] = corners[k][0];
    }
    // The per-pixel path multiplies by kLonScale and kLatScale instead of
    // dividing by the spans; that is exact only while the spans are these
    // powers of two, as they are for every valid sheet.
    if (m_graticule.lonEast - m_graticule.lonWest != kLonSpan ||
        m_graticule.latNorth - m_graticule.latSouth != kLatSpan) {
        throw std::logic_error("sheet " + std::to_string(sheetNumber) +
                               " does not span 0.25 x 0.125 degrees");
    }
}

void SheetMapping::NominalFromGraticule(double lon, double lat, double& x,
                                        double& y) const noexcept {
    const double* const N = m_corner;
    const double dlon = lon - m_graticule.lonWest;
    const double dlat = lat - m_graticule.latSouth;

    const double xSouth = N[0] + (dlon * (N[6] - N[0])) * kLonScale;
    const double xNorth = N[2] + (dlon * (N[4] - N[2])) * kLonScale;
    x = (dlat * (xNorth - xSouth)) * kLatScale + xSouth;

    const double ySouth = N[1] + (dlon * (N[7] - N[1])) * kLonScale;
    const double yNorth = N[3] + (dlon * (N[5] - N[3])) * kLonScale;
    y = (dlat * (yNorth - ySouth)) * kLatScale + ySouth;
}

}  // namespace georef::geometry
