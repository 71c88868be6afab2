// The report picture of a corner set: a view of the whole scan and an inset
// of each corner, written as PNG.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "corners/find_corners.hpp"
#include "corners/orientation.hpp"
#include "corners/png_writer.hpp"
#include "corners/scan_image.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"

namespace georef::corners {

namespace {

constexpr int kInsetSource = 96;   // scan pixels shown in each inset, per edge
constexpr int kInsetZoom = 3;      // screen pixels per scan pixel in an inset
constexpr int kGap = 8;            // between the parts of the picture
constexpr int kTextRow = 22;       // height of a line of text
const cv::Scalar kFrameColour(230, 30, 30);  // RGB
const cv::Scalar kLineColour(20, 170, 40);
const cv::Scalar kCornerColour(230, 30, 30);
const cv::Scalar kTextColour(0, 0, 0);

void Text(cv::Mat& canvas, const std::string& text, int x, int y, const cv::Scalar& colour = kTextColour) {
    // The picture's letters are ASCII: a degree sign becomes a blank.
    std::string ascii = text;
    for (std::size_t at = ascii.find("\u00b0"); at != std::string::npos; at = ascii.find("\u00b0", at)) {
        ascii.replace(at, 2, " ");
    }
    cv::putText(canvas, ascii, cv::Point(x, y), cv::FONT_HERSHEY_SIMPLEX, 0.5, colour, 1, cv::LINE_AA);
}

// The notes joined by "; " and broken between words into lines of at most
// `width` screen pixels each, as Text draws them (a single word longer
// than that stands on a line of its own).
std::vector<std::string> Wrapped(const std::vector<std::string>& notes, int width) {
    std::string joined;
    for (const std::string& note : notes) {
        joined += (joined.empty() ? "" : "; ") + note;
    }
    std::vector<std::string> lines;
    std::string line;
    std::size_t from = 0;
    while (from < joined.size()) {
        const std::size_t blank = joined.find(' ', from);
        const std::string word = joined.substr(from, blank == std::string::npos ? std::string::npos : blank - from);
        from = blank == std::string::npos ? joined.size() : blank + 1;
        const std::string longer = line.empty() ? word : line + " " + word;
        int baseline = 0;
        if (!line.empty() && cv::getTextSize(longer, cv::FONT_HERSHEY_SIMPLEX, 0.5, 1, &baseline).width > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

std::string Format(const char* format, double a, double b = 0.0, double c = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Fixed-point coordinates for OpenCV's drawing (4 fractional bits).
cv::Point Fixed(double x, double y) {
    return {static_cast<int>(std::lround(x * 16.0)), static_cast<int>(std::lround(y * 16.0))};
}

// Written beside the target and renamed when complete.
void WritePng(const std::string& path, const cv::Mat& rgb) {
    std::string problem;
    try {
        platform::AtomicFile file(path);
        WriteRgbPng(file.Stream(), rgb);
        file.Commit();
    } catch (const std::runtime_error& error) {
        problem = error.what();
    }
    if (!problem.empty()) {
        throw Failure("cannot write the report " + path + ": " + problem);
    }
}

// The whole scan reduced by factor. When the scan keeps a reduced copy
// (the finder's) whose factor does not divide this one, the overview is
// averaged from that copy by area rather than from every pixel of the
// scan again: the same picture to the eye.
cv::Mat Overview(const ScanImage& scan, int factor) {
    const int kept = scan.KeptReduction();
    if (kept < 2 || factor <= kept || factor % kept == 0) {
        return scan.ReadReduced(factor);
    }
    const cv::Mat copy = scan.ReadReduced(kept);
    const cv::Size size(std::max(1, scan.Width() / factor), std::max(1, scan.Height() / factor));
    // The overview covers size * factor plane pixels from the top left.
    const double scale = static_cast<double>(factor) / kept;
    const cv::Rect covered(0, 0, std::min(copy.cols, std::max(1, static_cast<int>(std::lround(size.width * scale)))),
                           std::min(copy.rows, std::max(1, static_cast<int>(std::lround(size.height * scale)))));
    cv::Mat overview;
    cv::resize(copy(covered), overview, size, 0.0, 0.0, cv::INTER_AREA);
    return overview;
}

// reading: what the margin read and what it says, a line under the
// verdict; empty for none. framedNotes: the sides placed from the border's
// outer frame, one note each, wrapped to the picture's width between the
// two; empty for none.
void DrawReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber,
                const geometry::CornerPoints& corners, const std::string& verdict,
                const std::array<std::string, 4>& cornerNotes, const std::string& reading = {},
                const std::vector<std::string>& framedNotes = {}) {
    const std::string& scanPath = scan.Path();
    std::array<PlanePoint, 4> plane;
    for (int k = 0; k < 4; ++k) {
        plane[static_cast<std::size_t>(k)] = PlaneFromCorner(corners[static_cast<std::size_t>(k)], scan.Height());
    }
    const int inset = kInsetSource * kInsetZoom;
    const int width = 4 * inset + 5 * kGap;
    // The overview: the whole scan reduced to the picture's width.
    const int factor = std::max(1, static_cast<int>(std::ceil(static_cast<double>(scan.Width()) / (width - 2 * kGap))));
    const cv::Mat overview = Overview(scan, factor);
    const std::vector<std::string> framed = Wrapped(framedNotes, width - 2 * kGap);
    const int headerRows = 2 + (reading.empty() ? 0 : 1) + static_cast<int>(framed.size());
    const int top = headerRows * kTextRow + kGap;
    const int insetTop = top + overview.rows + kGap + kTextRow;
    cv::Mat canvas(insetTop + inset + kGap + kTextRow, width, CV_8UC3, cv::Scalar::all(255));
    overview.copyTo(canvas(cv::Rect(kGap, top, overview.cols, overview.rows)));
    // Plane (c, r) lies at ((c + 0.5) / factor - 0.5) in the overview.
    const auto toOverview = [&](const PlanePoint& p) {
        return Fixed(kGap + (p.column + 0.5) / factor - 0.5, top + (p.row + 0.5) / factor - 0.5);
    };
    for (int k = 0; k < 4; ++k) {
        cv::line(canvas, toOverview(plane[static_cast<std::size_t>(k)]), toOverview(plane[static_cast<std::size_t>((k + 1) % 4)]),
                 kFrameColour, 1, cv::LINE_AA, 4);
    }
    Text(canvas, "sheet " + std::to_string(sheetNumber) + "   " + scanPath, kGap, kTextRow - 4);
    Text(canvas, verdict, kGap, 2 * kTextRow - 4);
    int row = 3;
    for (const std::string& line : framed) {
        Text(canvas, line, kGap, row++ * kTextRow - 4);
    }
    if (!reading.empty()) {
        Text(canvas, reading, kGap, row * kTextRow - 4);
    }

    // The insets, in the order of the corner file.
    std::vector<cv::Rect> windows;
    for (const PlanePoint& p : plane) {
        windows.emplace_back(static_cast<int>(std::lround(p.column)) - kInsetSource / 2,
                             static_cast<int>(std::lround(p.row)) - kInsetSource / 2, kInsetSource, kInsetSource);
    }
    const std::vector<cv::Mat> pixels = scan.ReadWindows(windows);
    const cv::Rect image(0, 0, scan.Width(), scan.Height());
    for (int k = 0; k < 4; ++k) {
        const cv::Rect& w = windows[static_cast<std::size_t>(k)];
        const cv::Rect part = w & image;
        cv::Mat view(kInsetSource, kInsetSource, CV_8UC3, cv::Scalar::all(255));
        if (!part.empty()) {
            pixels[static_cast<std::size_t>(k)].copyTo(view(part - w.tl()));
        }
        cv::Mat zoomed;
        cv::resize(view, zoomed, cv::Size(inset, inset), 0, 0, cv::INTER_NEAREST);
        const int left = kGap + k * (inset + kGap);
        // Plane (c, r) lies at ((c - w.x + 0.5) zoom - 0.5) in the inset.
        const auto toInset = [&](const PlanePoint& p) {
            return Fixed((p.column - w.x + 0.5) * kInsetZoom - 0.5, (p.row - w.y + 0.5) * kInsetZoom - 0.5);
        };
        const PlanePoint& c = plane[static_cast<std::size_t>(k)];
        for (const int n : {(k + 1) % 4, (k + 3) % 4}) {
            // The side towards each neighbouring corner, drawn across the inset.
            const PlanePoint& q = plane[static_cast<std::size_t>(n)];
            const double length = std::hypot(q.column - c.column, q.row - c.row);
            const double reach = kInsetSource / length;
            const PlanePoint from{c.column - reach * (q.column - c.column), c.row - reach * (q.row - c.row)};
            const PlanePoint to{c.column + reach * (q.column - c.column), c.row + reach * (q.row - c.row)};
            cv::line(zoomed, toInset(from), toInset(to), kLineColour, 1, cv::LINE_AA, 4);
        }
        cv::circle(zoomed, toInset(c), 6 * 16, kCornerColour, 1, cv::LINE_AA, 4);
        zoomed.copyTo(canvas(cv::Rect(left, insetTop, inset, inset)));
        cv::rectangle(canvas, cv::Rect(left - 1, insetTop - 1, inset + 2, inset + 2), cv::Scalar::all(120));
        const geometry::CornerPoint& cp = corners[static_cast<std::size_t>(k)];
        Text(canvas, std::string(kCornerNames[static_cast<std::size_t>(k)]) + Format("  x %.1f  y %.1f", cp.x, cp.y), left,
             insetTop - 6);
        Text(canvas, cornerNotes[static_cast<std::size_t>(k)], left, insetTop + inset + kTextRow - 4);
    }
    WritePng(pngPath, canvas);
}

// Each corner's residual under its inset.
std::array<std::string, 4> ResidualNotes(const geometry::CornerFitReport& fit) {
    std::array<std::string, 4> notes;
    for (int k = 0; k < 4; ++k) {
        const geometry::CornerResidual& r = fit.residuals[static_cast<std::size_t>(k)];
        notes[static_cast<std::size_t>(k)] = Format("residual %.2f px, %.2f m", r.pixels, r.metres);
    }
    return notes;
}

}  // namespace

void WriteCornerReport(const std::string& pngPath, const std::string& scanPath, int sheetNumber,
                       const FindResult& found) {
    WriteCornerReport(pngPath, ScanImage(scanPath), sheetNumber, found);
}

void WriteCornerReport(const std::string& pngPath, const std::string& scanPath, int sheetNumber,
                       const geometry::CornerPoints& corners) {
    WriteCornerReport(pngPath, ScanImage(scanPath), sheetNumber, corners);
}

std::vector<std::string> FramePlacementNotes(const FindResult& found) {
    std::vector<std::string> notes;
    for (Side side : kSides) {
        if (const std::optional<double>& gap = found.fromFrame[static_cast<std::size_t>(side)]) {
            notes.push_back(std::string(SideName(side)) +
                            Format(" placed from the border's outer frame: neat line taken %.1f px inside it, "
                                   "as on the other sides",
                                   *gap));
        }
        if (const auto& inside = found.fromFainter[static_cast<std::size_t>(side)]) {
            notes.push_back(std::string(SideName(side)) +
                            Format(": neat line taken on a fainter line %.1f and %.1f px inside the line first "
                                   "taken (the border's, merged with it)",
                                   (*inside)[0], (*inside)[1]));
        }
    }
    return notes;
}

std::string ReadingNote(const SheetReading& reading, const IdentityVerdict& identity) {
    if (!reading.attempted) {
        return {};
    }
    std::string note = "read: " + DescribeReading(reading);
    if (!identity.message.empty() && !identity.contradicted) {
        note += "; " + identity.message;
    }
    return note;
}

void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber, const FindResult& found) {
    WriteCornerReport(pngPath, scan, sheetNumber, found, ReadingNote(found.reading, found.identity));
}

void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber, const FindResult& found,
                       const std::string& readingNote) {
    const std::optional<geometry::CornerPoints>& corners = found.measured ? found.measured : found.searched;
    if (!corners) {
        throw Failure("no corners to draw: " + found.refusal);
    }
    std::array<std::string, 4> notes;
    std::string verdict;
    std::optional<geometry::CornerFitReport> fit = found.fit;
    if (!fit) {
        try {
            fit = geometry::AnalyseCornerFit(*corners, sheetNumber);
        } catch (const math::matrix_error&) {
        }
    }
    if (fit) {
        notes = ResidualNotes(*fit);
    }
    if (found.measured) {
        for (std::size_t k = 0; k < 4; ++k) {
            if (found.extrapolated[k] > 0.0) {
                notes[k] += Format(", extrapolated %.0f px", found.extrapolated[k]);
            }
        }
    }
    if (found.Found()) {
        verdict = Format("found: fit RMS %.2f px (%.2f m), %.0f dpi", fit->rmsPixels, fit->rmsMetres, found.dpi);
    } else {
        verdict = "REFUSED: " + found.refusal;
    }
    if (found.turnDegrees != 0) {
        verdict = "scan " + TurnDescription(found.turnDegrees) + "; " + verdict;
    }
    const std::vector<std::string> framed = found.measured ? FramePlacementNotes(found) : std::vector<std::string>{};
    DrawReport(pngPath, scan, sheetNumber, *corners, verdict, notes, readingNote, framed);
}

void WriteCornerReport(const std::string& pngPath, const ScanImage& scan, int sheetNumber,
                       const geometry::CornerPoints& corners, const std::string& readingNote) {
    std::array<std::string, 4> notes;
    std::string verdict = "corners given";
    try {
        const geometry::CornerFitReport fit = geometry::AnalyseCornerFit(corners, sheetNumber);
        notes = ResidualNotes(fit);
        verdict += Format(": fit RMS %.2f px (%.2f m), %.0f dpi", fit.rmsPixels, fit.rmsMetres, fit.dpi);
        if (fit.Mirrored()) {
            verdict += ", MIRRORED";
        }
    } catch (const math::matrix_error&) {
        verdict += ": no fit (three corners on one line)";
    }
    DrawReport(pngPath, scan, sheetNumber, corners, verdict, notes, readingNote);
}

}  // namespace georef::corners
