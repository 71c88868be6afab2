#pragma once
// Scans that look like real sheets of the series, for testing a corner
// finder: a neat line centred on the sheet's edge, the graduated border with
// its outer frame, corner labels, a title and margin text, map content that
// runs up to the neat line (with a road alongside one side as a decoy), and
// the wear of paper and scanner: tint, grain, stains, folds, uneven light,
// blur, JPEG noise, rotation, bowed sides, a torn paper corner, a dark
// scanner bed. Options also draw the scans a finder must refuse: a side cut
// off the image, a sheet drawn at the wrong size, a page without a map.
//
// Everything random is drawn from the seed, so a scan is reproducible bit for
// bit from its options. Lengths on the paper are given as pixels at 300 dpi
// (scaled to the scan's resolution) or millimetres; lengths that belong to
// the scanner (bowing, blur) are scan pixels.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "geometry/corner_fit.hpp"
#include "geometry/side.hpp"

namespace georef::synthesis {

enum class BorderStyle { filledMinutes, minuteTicks };
enum class PageContent { map, blank, text };
enum class SheetCorner { none, ld, lh, ph, pd };
// How the title and the corner labels are lettered: as drawn so far (a
// serif title, plain figures at the corners), or in one of the period's
// styles throughout: a roman with serifs, its italic, or small capitals.
enum class Lettering { plain, serif, italic, smallCaps };

struct RealisticScanOptions {
    double dpi = 300.0;            // scan resolution written into the file, pixels per inch
    double rotationDegrees = 0.8;  // counter-clockwise as the image is seen, |r| <= 10
    std::uint64_t seed = 1;

    // The printed sheet.
    double neatLineWidth = 2.0;    // pixels at 300 dpi
    double frameGap = 32.0;        // neat line centre to outer frame centre, pixels at 300 dpi
    double frameWidth = 6.0;       // outer frame line, pixels at 300 dpi
    BorderStyle border = BorderStyle::filledMinutes;
    double marginMillimetres = 20.0;  // paper beyond the outer frame
    PageContent page = PageContent::map;
    std::optional<geometry::Side> decoy = geometry::Side::left;  // side with a road a few pixels inside the neat line
    // The map content: 0 draws content of the sheet's own from the seed;
    // any other value draws the sheet's part of the continuous landscape of
    // that seed (see landscape.hpp), which neighbouring sheets continue.
    std::uint64_t landscape = 0;
    // The landscape drawn displaced on the sheet by this much on the ground,
    // metres east and north (a sheet drawn off, as old sheets sometimes are).
    double shiftEastMetres = 0.0;
    double shiftNorthMetres = 0.0;

    // Paper and scanner.
    double bedMillimetres = 8.0;   // dark scanner bed around the paper; 0: a light lid instead
    double grain = 5.0;            // grey levels, standard deviation of the pixel noise
    int stains = 3;
    int folds = 1;
    double lighting = 0.12;        // fraction of brightness lost towards the darkest part
    double blurPixels = 0.7;       // Gaussian sigma, scan pixels; 0: none
    int jpegQuality = 85;          // 10 to 100 (JPEG scans)
    double bowPixels = 1.5;        // largest bow of a side, scan pixels
    SheetCorner tornCorner = SheetCorner::none;
    // Share of each of the torn corner's two sides torn away with the neat
    // line's corner (0: the tear stays in the margin), at most 0.3.
    double tearReach = 0.0;

    // The hard sheets (drawn from their own random stream, so setting them
    // leaves the rest of the scan as it was).
    double wornShare = 0.0;        // share of every side where the neat line is worn away, in 2 to 4 gaps, <= 0.4
    int hatchedCorners = 0;        // corners (LD first) with dense dark hatching pressed against the line, 0 to 4
    // The finished scan turned as a whole, degrees counter-clockwise as the
    // image is seen: 0, 90 (the sheet's north at the left), 180 or 270.
    int turnDegrees = 0;
    Lettering lettering = Lettering::plain;
    // The sheet the title names; 0 for the sheet drawn. Another sheet makes
    // a misprinted or misread title over the sheet's own corner labels.
    int titleSheet = 0;

    // Scans a finder must refuse.
    std::optional<geometry::Side> crop;  // image side whose neat line side is cut off
    double scale = 1.0;            // drawn size over true size (at the recorded dpi)

    bool density = true;           // record the dpi in the file (TIFF tags, JFIF density)
};

struct RealisticScan {
    // Where the neat line's centre lines meet (corner-file frame, labelled as
    // the sheet's corners however the scan is turned); the corners of a
    // cropped scan may lie outside the image.
    geometry::CornerPoints corners{};
    // Where the outer and the inner edges of the neat line meet, same frame.
    geometry::CornerPoints outerEdgeCorners{};
    geometry::CornerPoints innerEdgeCorners{};
    bool hasMap = true;            // false for a page without a map: no corners
    int width = 0;                 // pixels
    int height = 0;
    double neatLineWidth = 0.0;    // as drawn, scan pixels
};

// Options with every condition drawn from the seed within what real scans of
// the series show: rotation up to 3 degrees, neat line 1.2 to 3 px and outer
// frame 20 to 45 px away at 300 dpi, either border style, with or without a
// bed, 0 to 2 px bowing, sometimes a torn corner. The resolution, the
// refusal cases (crop, scale, page) and the density stay at their defaults.
RealisticScanOptions VariedRealisticOptions(std::uint64_t seed);

// Draws the scan of a valid sheet and writes it (JPEG for .jpg or .jpeg, TIFF
// otherwise; never half-written). Throws georef::Failure for an invalid sheet
// number, options out of range or a file that cannot be written.
RealisticScan WriteRealisticScan(int sheetNumber, const std::string& path, const RealisticScanOptions& options);

}  // namespace georef::synthesis
