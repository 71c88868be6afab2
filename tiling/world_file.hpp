#pragma once
// Tile file names and the world file (.jgw) beside each tile.
//
// A tile is named by tileX / 10000 and tileY / 10000, where tileX is the
// output-frame X of its top edge and tileY the Y of its east edge (metres,
// multiples of 10000). Its world file states, in easting = -Y and
// northing = -X, the pixel edge and the outer (north-west) corner of the
// top-left pixel.

#include <string>

namespace georef::tiling {

// value as printf's %g (six significant digits, trailing zeros dropped),
// except that an exponent is written with its sign and exactly three digits
// when it has fewer: 1.05e+006, 2.5e-005.
std::string FormatNumber(double value);

// "<directory>/<tileX / 10000>_<tileY / 10000><extension>", extension with
// its dot (".jpg", ".jgw").
std::string TileFileName(const std::string& directory, int tileX, int tileY, const std::string& extension);

// The six lines of a tile's world file, each ended by '\n': pixel edge, 0, 0,
// negated pixel edge, easting of the west edge, northing of the top edge.
std::string WorldFileText(float pixelSize, int tileX, int tileY);

// Writes text to path so that path holds either its old content or the whole
// new text, never a part. Throws std::runtime_error when it cannot, or when
// path is write-protected (platform::IsWriteProtected).
void WriteWorldFile(const std::string& path, const std::string& text);

}  // namespace georef::tiling
