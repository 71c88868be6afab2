#include "review/sheet_outlines.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "geometry/sheet_geometry.hpp"
#include "transform/transformation_file.hpp"

namespace georef::review {

namespace {

using transform::OutputPoint;

// The boundary vertices nearest to the four graticule corners, SW, NW, NE,
// SE. Distances in degrees, longitude shortened by the cosine of the
// latitude so that both axes count alike.
std::optional<std::array<OutputPoint, 4>> CornersOf(int sheet, const std::vector<OutputPoint>& vertices,
                                                    const transform::TransformGrid& grid) {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheet);
    const transform::GraticulePoint targets[4] = {
        {g.lonWest, g.latSouth}, {g.lonWest, g.latNorth}, {g.lonEast, g.latNorth}, {g.lonEast, g.latSouth}};
    const double lonScale = std::cos((g.latNorth + g.latSouth) * 0.5 * M_PI / 180.0);
    std::array<OutputPoint, 4> corners{};
    std::array<double, 4> best;
    best.fill(INFINITY);
    for (const OutputPoint& v : vertices) {
        const std::optional<transform::GraticulePoint> p = grid.Lookup(v.X, v.Y);
        if (!p) {
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            const double dLon = (p->lon - targets[k].lon) * lonScale;
            const double dLat = p->lat - targets[k].lat;
            const double d = dLon * dLon + dLat * dLat;
            if (d < best[static_cast<std::size_t>(k)]) {
                best[static_cast<std::size_t>(k)] = d;
                corners[static_cast<std::size_t>(k)] = v;
            }
        }
    }
    if (!std::isfinite(best[0])) {
        return std::nullopt;
    }
    return corners;
}

// A sheet's place in the graticule, in whole sheet widths and heights
// (0.25 and 0.125 degrees): (west edge / width, north edge / height).
std::pair<long, long> GraticuleCell(int sheet) {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheet);
    return {std::lround(g.lonWest * 4.0), std::lround(g.latNorth * 8.0)};
}

}  // namespace

std::vector<SheetOutline> ReadSheetOutlines(const std::string& configPath) {
    std::optional<transform::TransformationFile> file = transform::TransformationFile::Open(configPath);
    if (!file) {
        throw std::runtime_error("cannot open " + configPath);
    }
    std::vector<SheetOutline> outlines;
    std::set<int> seen;
    for (const transform::SheetIndexEntry& entry : file->ReadIndex()) {
        if (!seen.insert(entry.sheetNumber).second) {
            continue;
        }
        SheetOutline outline;
        outline.sheet = entry.sheetNumber;
        outline.vertices = file->ReadBoundary(entry).vertices;
        if (geometry::IsValidSheetNumber(entry.sheetNumber)) {
            outline.corners = CornersOf(entry.sheetNumber, outline.vertices, file->ReadGrid(entry));
        }
        outlines.push_back(std::move(outline));
    }
    return outlines;
}

std::vector<SharedEdge> FindSharedEdges(const std::vector<SheetOutline>& outlines) {
    std::map<std::pair<long, long>, const SheetOutline*> byCell;
    for (const SheetOutline& o : outlines) {
        if (geometry::IsValidSheetNumber(o.sheet) && o.corners) {
            byCell.emplace(GraticuleCell(o.sheet), &o);
        }
    }
    std::vector<SharedEdge> edges;
    for (const auto& [cell, sheet] : byCell) {
        const std::array<OutputPoint, 4>& c = *sheet->corners;  // SW, NW, NE, SE
        const auto east = byCell.find({cell.first + 1, cell.second});
        if (east != byCell.end()) {
            edges.push_back({sheet->sheet, east->second->sheet, true, c[2], c[3]});
        }
        const auto south = byCell.find({cell.first, cell.second - 1});
        if (south != byCell.end()) {
            edges.push_back({sheet->sheet, south->second->sheet, false, c[0], c[3]});
        }
    }
    std::sort(edges.begin(), edges.end(), [](const SharedEdge& a, const SharedEdge& b) {
        return std::make_pair(a.first, a.second) < std::make_pair(b.first, b.second);
    });
    return edges;
}

}  // namespace georef::review
