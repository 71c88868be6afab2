#pragma once
// Finding the four corners of a sheet's neat line in a scan: the library
// call behind georef-corners, for any program that turns scans into corner
// files (a batch over a folder of scans, say).
//
//   corners::FindOptions options;                 // centre of the line, dpi from the file
//   const corners::FindResult found = corners::FindCorners(40571, "scans/40571.jpg", options);
//   if (found.Found()) {
//       geometry::WriteCornerFile("40571.txt", *found.corners, geometry::CornerPrecision::measured);
//   } else {
//       std::cerr << found.refusal << "\n";       // which stage gave up, and why
//   }
//   corners::WriteCornerReport("40571.png", "scans/40571.jpg", 40571, found);
//
// The steps: a search on a reduced copy of the scan (coarse_search.hpp), a
// refinement at full resolution near each corner (refine.hpp), a check of
// the corners against the sheet (frame_check.hpp) in each way the sheet may
// lie in the scan (orientation.hpp), and a reading of the sheet's title and
// corner labels that refuses a scan of another sheet (sheet_reading.hpp,
// sheet_identity.hpp). Corners are given in the
// corner file's image frame: pixels, x from the left edge, y upwards from
// the bottom edge; the pixel in column c and row r (from the top) has its
// centre at x = c - 0.5, y = height - r - 1.5, as georef samples it.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "corners/frame.hpp"
#include "corners/refine.hpp"
#include "corners/scan_image.hpp"
#include "corners/sheet_identity.hpp"
#include "geometry/corner_fit_report.hpp"

namespace georef::corners {

// Raised whenever a change may make the finder find other corners in the same
// scan (or refuse one it accepted), so that corners kept from an earlier
// version are searched again.
// 3: scans turned by 90, 180 or 270 degrees, and the identity check.
// 4: worn and hidden lines, larger tears, the border's place on every side.
// 5: thin neat lines at low resolution: a side whose line taken has a
// fainter line inside it near both corners, or whose two ends take other
// lines, is refused; profiles average at least five rows.
// 6: a side that cannot be told from the lines beside it, or that lies
// otherwise inside the border's outer frame than the other sides, is placed
// from its frame and the gap measured on the other sides.
// 7: the frame taken by its outer edge, so that a frame merged with filled
// minutes is seen on every side.
// 8: solid ink pressed against the line no longer spoils its stretch; paper
// edges against a dark bed give way to drawn lines short of one corner; a
// side carried on over a larger tear is taken from its other end where that
// puts the corners closer to the fit of the four.
// 9: a side that took the border's line is placed from its frame; where no
// line of its own is seen, when all three other sides show the gap.
// 10: a profile whose outer edge is hidden has its centre half the line's
// width from edge to edge beyond its inner edge (blurred thin lines at a low
// resolution); the drawn width is measured on the line's half towards the map.
// 11: a faint line inside the border's line that runs into one corner is
// followed along its own place into the other; lines seen only on the half
// of a stretch next to its corner count when they run into both corners.
// 12: below 200 dpi a refused scan is looked at once more counting lines
// fainter in proportion to the resolution.
// 13: whether both ends of a side took one line is told against the
// outermost line followed from one corner to the other, not against two
// ends' outermost lines that may be the border's and the frame's.
// 14: a side whose line taken shows a fainter line inside it near both
// corners is taken on that line (the neat line merged with the border's);
// a side placed from its frame with the gap of sides so taken goes as far in.
// 15: every side is checked against the border's outer frame.
// 16: below 200 dpi, when no side takes one line at both ends, the neat line
// is taken as the innermost line inside the border's outer frame where it
// lies alike next to all eight side ends.
// 17: when nothing else chooses every side, a line showing only a band's
// inner edge is carried on to a corner torn off, and moved onto the fainter
// line inside it as far as next to its other corner.
// 18: a neat line merged with the border on every side is found so too
// when one corner is torn off with the frame: its two sides are
// measured beyond the tear and carried on to it.
// 19: a neat line inside the border's line, running into one corner, is
// followed into the other through hatching that hides it next to that
// corner, when it shows on most of the stretch there and nothing else
// chooses every side.
inline constexpr int kFinderRevision = 19;

struct FindOptions {
    Edge edge = Edge::centre;   // which line of the drawn neat line is the sheet's edge
    std::optional<double> dpi;  // the scan's resolution; overrides what the file states
    // Read the title and the corner labels and refuse a scan that shows
    // another sheet (sheet_identity.hpp).
    bool checkIdentity = true;
    // Cores the refinement may measure on: 2 when one sheet runs alone
    // (georef-corners); the corners are the same bit for bit.
    int threads = 1;
};

enum class DpiSource { given, stated, estimated };

struct FindResult {
    int width = 0;  // the scan, pixels
    int height = 0;
    double dpi = 0.0;  // the resolution used (0 when the search gave up before estimating it)
    DpiSource dpiSource = DpiSource::estimated;
    int reduction = 1;        // factor of the reduced copy searched
    // How the sheet lies in the scan, degrees counter-clockwise as the image
    // is seen (0, 90, 180 or 270; see orientation.hpp). The corners below
    // are always labelled as the sheet's own: LD is its south-west corner.
    int turnDegrees = 0;
    double lineWidth = 0.0;   // median width of the drawn neat line, pixels (0 when not seen)

    // The corners of the inner edges the reduced search found (LD, LH, PH,
    // PD of the sheet, image frame), to within a few pixels; empty when it
    // gave up.
    std::optional<geometry::CornerPoints> searched;
    // The corners measured at full resolution, also when the check refused
    // them; empty when the search or the refinement gave up.
    std::optional<geometry::CornerPoints> measured;
    // Per measured corner (LD, LH, PH, PD), how far its sides' lines were
    // carried on to it because they stop short of it (a corner torn off,
    // hidden or worn away), pixels; 0 where both lines run into it.
    std::array<double, 4> extrapolated{};
    // Per measured side (left, top, right, bottom of the sheet), placed
    // from the border's outer frame because its neat line could not be told
    // from the lines beside it: the gap from the frame's outer edge inward
    // to the neat line's centre, measured on the other sides, pixels; empty
    // where the side's own line was found.
    std::array<std::optional<double>, 4> fromFrame{};
    // Per measured side, taken on a fainter line inside the line seen
    // first because its neat line merges with the border's line: how far
    // inside that line near each of the side's two corners (first the one
    // nearer the scan's top or left edge), pixels; empty where the line seen
    // first is the neat line.
    std::array<std::optional<std::array<double, 2>>, 4> fromFainter{};
    // Present only when every check held: the corners to write, and their fit.
    std::optional<geometry::CornerPoints> corners;
    std::optional<geometry::CornerFitReport> fit;
    // What the margin reads and what it says about the sheet's identity;
    // read once the corners are checked (reading.attempted false before).
    SheetReading reading;
    IdentityVerdict identity;
    // Why no corners were accepted, with the figures; empty when found.
    std::string refusal;

    bool Found() const noexcept { return corners.has_value(); }
};

// Finds the corners of a valid sheet's neat line in the scan. Never writes
// anything. Throws georef::Failure when the scan cannot be read or is no
// 8-bit grey or RGB image of workable size, std::invalid_argument for an
// invalid sheet number; every other outcome, a refusal included, is the
// result.
FindResult FindCorners(int sheetNumber, const std::string& scanPath, const FindOptions& options = {});
// The same on a scan already open (or already decoded: see ScanImage).
FindResult FindCorners(int sheetNumber, const ScanImage& scan, const FindOptions& options = {});

// The identity check alone, for corners from elsewhere (a corner file made
// by hand): reads the title and the corner labels about the given corners
// (LD, LH, PH, PD of the sheet, image frame) in one pass over the scan and
// judges them as FindCorners does. Throws georef::Failure when the scan
// cannot be read, std::invalid_argument for an invalid sheet number.
struct IdentityCheck {
    SheetReading reading;
    IdentityVerdict verdict;
};
IdentityCheck CheckSheetIdentity(int sheetNumber, const std::string& scanPath, const geometry::CornerPoints& corners);
// The same on a scan already open (or already decoded).
IdentityCheck CheckSheetIdentity(int sheetNumber, const ScanImage& scan, const geometry::CornerPoints& corners);

// The line of the report picture that says what the margin read and, unless
// it refused the scan, what that says of the sheet ("read: title 4057/1,
// ..."); empty when no reading was made.
std::string ReadingNote(const SheetReading& reading, const IdentityVerdict& identity);

// One line per side of found placed from the border's outer frame ("left
// side placed from the border's outer frame, ...") or taken on a fainter
// line inside the line first taken ("left side: neat line taken on a
// fainter line ..."), in the order left, top, right, bottom; none when every side's own
// line was found.
std::vector<std::string> FramePlacementNotes(const FindResult& found);

// Writes a PNG a person can judge at a glance: a small view of the whole
// scan with the quadrilateral of the corners, and an enlarged inset of each
// corner with the sides through it and the corner marked, labelled with the
// sheet number and the fit's residuals (or the refusal). Works for corners
// from any source: with a FindResult it draws its measured corners (or, when
// the refinement gave up, the search's); the second form draws hand-made
// ones. Atomic like the corner file. Throws
// georef::Failure when the scan cannot be read or the picture not written.
void WriteCornerReport(const std::string& pngPath, const std::string& scanPath, int sheetNumber,
                       const FindResult& found);
void WriteCornerReport(const std::string& pngPath, const std::string& scanPath, int sheetNumber,
                       const geometry::CornerPoints& corners);
// The same two on a scan already open (or already decoded). readingNote is
// the ReadingNote line to show: for the first form in place of the one of
// found's own reading (as kept from an earlier search, say), for the second
// the one of a CheckSheetIdentity; empty for none.
void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber, const FindResult& found);
void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber, const FindResult& found,
                       const std::string& readingNote);
void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber,
                       const geometry::CornerPoints& corners, const std::string& readingNote = {});

// The corner file's image frame from the plane frame of a scan of the
// given height, and back.
geometry::CornerPoint CornerFromPlane(const PlanePoint& p, int height, int id) noexcept;
PlanePoint PlaneFromCorner(const geometry::CornerPoint& c, int height) noexcept;

}  // namespace georef::corners
