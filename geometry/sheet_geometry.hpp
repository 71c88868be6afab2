#pragma once
// Sheet numbering and the nominal geometry of a sheet.
//
// A sheet number zzccs names zone zz (row of 0.25 deg cells, 34..45 from the
// north), column cc (0.5 deg cells from the west) and section s (1..4: NW, NE,
// SW, SE quarter of the cell). The graticule frame is longitude and latitude
// in degrees; the nominal frame is metres with its origin at the centre of
// the sheet's cell, x to the east and y to the north.

#include <cstdint>

#include "geometry/matrix.hpp"

namespace georef::geometry {

using Matrix = math::matrixT<double>;

// The meridians and parallels that bound a sheet, degrees (graticule frame).
struct SheetGraticule {
    double lonWest;
    double lonEast;
    double latNorth;
    double latSouth;
};

// True when the zone is 34..45 and the section 1..4: only such sheets have a
// nominal geometry. Every other function here requires a valid number,
// except MakeSheetGraticule, which is defined for every integer.
bool IsValidSheetNumber(int sheetNumber) noexcept;

SheetGraticule MakeSheetGraticule(int sheetNumber) noexcept;

// The sheet number a command-line argument names, read as georef has always
// read it: strtol in base 10 (leading white space and a sign accepted,
// reading stops at the first character that is not a digit, no digit gives
// 0). A value beyond 32 bits names no sheet and becomes INT32_MAX, which is
// not valid, rather than wrapping onto a valid number.
std::int32_t SheetNumberFromArgument(const char* text) noexcept;

// 8x1: x, y (nominal frame, metres) of the corners LD, LH, PH, PD.
// @throws std::invalid_argument when the number is not valid.
Matrix MakeNominalCorners(int sheetNumber);

// Bilinear map from graticule to nominal frame between the four nominal
// corners. lonLat is 2x1 (longitude, latitude in degrees); returns a new 2x1
// (x, y) in metres. Positions outside the sheet are extrapolated.
// @throws std::invalid_argument when the number is not valid.
Matrix NominalFromGraticule(int sheetNumber, const Matrix& lonLat);

// The same map with the graticule and the nominal corners derived once, for
// the per-pixel path. Gives bit-identical results to NominalFromGraticule.
class SheetMapping {
public:
    // @throws std::invalid_argument when the number is not valid.
    explicit SheetMapping(int sheetNumber);

    const SheetGraticule& Graticule() const noexcept { return m_graticule; }
    // The nominal corners LD, LH, PH, PD as 8 values x, y, ... (metres).
    const double* Corners() const noexcept { return m_corner; }

    // (lon, lat) in degrees -> (x, y) nominal metres, written to x and y.
    void NominalFromGraticule(double lon, double lat, double& x, double& y) const noexcept;

private:
    SheetGraticule m_graticule;
    double m_corner[8];  // LD, LH, PH, PD as x, y pairs
};

}  // namespace georef::geometry
