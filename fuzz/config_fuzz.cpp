// config.bin as a user may receive it: any bytes. Reads the index, every
// listed sheet's boundary and grid as a run reads them, looks points up in
// the grid as the painting does, and lists the file as georef-config --list
// does. A damaged file must end in DamagedFile (or a listed problem), never in
// a crash, a wild allocation or another exception.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.hpp"
#include "tiling/tile_loop.hpp"
#include "tools/config_tool.hpp"
#include "transform/transformation_file.hpp"

namespace {

using georef::fuzz::Fail;
using namespace georef::transform;

constexpr std::size_t kMostSheets = 16;  // index entries read per input
constexpr std::int32_t kMostNodeChecks = 64;

// A node's own output point falls into the cell that starts at the node, at
// fraction 0 along both axes: the lookup gives the node itself whenever the
// arithmetic stays finite.
void CheckNodeLookups(const TransformGrid& grid) {
    const double S = grid.CellSize();
    std::int32_t checked = 0;
    for (std::int32_t r = 0; r + 1 < grid.RowCount() && checked < kMostNodeChecks; ++r) {
        for (std::int32_t k = 0; k + 1 < grid.NodesPerRow() && checked < kMostNodeChecks; ++k, ++checked) {
            const double X = grid.OriginX() + k * S;
            const double Y = grid.OriginY() + r * S;
            const std::optional<GraticulePoint> p = grid.Lookup(X, Y);
            if (!(X / S < 2147483647.0 && Y / S < 2147483647.0)) {
                continue;  // beyond what a cell index can name
            }
            if (!p) {
                Fail("no lookup at the output point of node " + std::to_string(k) + " of row " + std::to_string(r));
            }
            const GraticulePoint& n00 = grid.Node(r, k);
            const GraticulePoint& n10 = grid.Node(r + 1, k);
            const GraticulePoint& n01 = grid.Node(r, k + 1);
            const GraticulePoint& n11 = grid.Node(r + 1, k + 1);
            const bool finite = std::isfinite(n10.lon - n00.lon) && std::isfinite(n11.lon - n01.lon) &&
                                std::isfinite(n01.lon - n00.lon) && std::isfinite(n10.lat - n00.lat) &&
                                std::isfinite(n11.lat - n01.lat) && std::isfinite(n01.lat - n00.lat);
            if (finite && (p->lon != n00.lon || p->lat != n00.lat)) {
                Fail("lookup at node " + std::to_string(k) + " of row " + std::to_string(r) +
                     " does not give the node");
            }
        }
    }
}

// Points the painting may ask for: the boundary's vertices, its box corners
// and the points just beyond the grid's far edges.
void LookUpAround(const TransformGrid& grid, const SheetBoundary& boundary) {
    for (const OutputPoint& v : boundary.vertices) {
        (void)grid.Lookup(v.X, v.Y);
    }
    const BoundingBox& box = boundary.box;
    (void)grid.Lookup(box.minX, box.minY);
    (void)grid.Lookup(box.maxX, box.maxY);
    const double S = grid.CellSize();
    const double endX = grid.OriginX() + S * (grid.NodesPerRow() - 1);
    const double endY = grid.OriginY() + S * (grid.RowCount() - 1);
    if (grid.Lookup(endX, endY) && endX / S < 2147483647.0 && endY / S < 2147483647.0) {
        Fail("lookup at the grid's far corner found a cell");
    }
    (void)grid.Lookup(std::nextafter(endX, 0.0), std::nextafter(endY, 0.0));
    (void)georef::tiling::TileRangeOf(box);
}

void ReadSheets(const std::string& path) {
    std::optional<TransformationFile> file = TransformationFile::Open(path);
    if (!file) {
        Fail("cannot open " + path);
    }
    std::vector<SheetIndexEntry> index;
    try {
        index = file->ReadIndex();
    } catch (const DamagedFile&) {
        return;
    }
    for (std::size_t k = 0; k < index.size() && k < kMostSheets; ++k) {
        // The first entry of a number is the one a run uses.
        const std::int32_t number = index[k].sheetNumber;
        const std::optional<SheetIndexEntry> found = file->FindSheet(number);
        const auto first = std::find_if(index.begin(), index.end(),
                                        [number](const SheetIndexEntry& e) { return e.sheetNumber == number; });
        if (!found || found->boundaryOffset != first->boundaryOffset || found->gridOffset != first->gridOffset) {
            Fail("FindSheet does not give the first index entry of sheet " + std::to_string(number));
        }
        try {
            const SheetBoundary boundary = file->ReadBoundary(index[k]);
            const TransformGrid grid = file->ReadGrid(index[k]);
            CheckNodeLookups(grid);
            LookUpAround(grid, boundary);
            (void)georef::tools::CheckSheetContent(number, boundary, grid);
        } catch (const DamagedFile&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = georef::fuzz::ScratchPath("config.bin");
    georef::fuzz::WriteFileBytes(path, data, size);
    ReadSheets(path);
    std::ostringstream out;
    std::ostringstream err;
    const int status = georef::tools::ListTransformationFile(path, out, err);
    if (status != 0 && status != 1) {
        Fail("--list returned " + std::to_string(status));
    }
    return 0;
}
