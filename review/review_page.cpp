#include "review/review_page.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <iconv.h>
#include <sys/stat.h>

#include "platform/atomic_file.hpp"
#include "platform/web_text.hpp"
#include "review/mosaic.hpp"
#include "review/page_directory.hpp"
#include "review/page_assets.hpp"
#include "review/seam_marks.hpp"
#include "review/sheet_outlines.hpp"
#include "transform/transformation_file.hpp"

namespace georef::review {

namespace fs = std::filesystem;

namespace {

// The file of a page that says what each of its images was drawn from.
constexpr const char* kImageKeys = ".images";

// Order of the table by default: what needs a look comes first.
int StatusRank(SheetStatus status) noexcept {
    switch (status) {
        case SheetStatus::failed: return 0;
        case SheetStatus::skipped: return 1;
        case SheetStatus::done: return 2;
        case SheetStatus::notInList: return 3;
    }
    return 4;
}

const char* StatusClass(SheetStatus status) noexcept {
    switch (status) {
        case SheetStatus::done: return "s-done";
        case SheetStatus::failed: return "s-failed";
        case SheetStatus::skipped: return "s-skipped";
        case SheetStatus::notInList: return "s-notInList";
    }
    return "";
}

bool IsUtf8(const std::string& text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int follow = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (follow < 0 || text.size() - i <= static_cast<std::size_t>(follow)) {
            return false;
        }
        for (int k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) >> 6) != 2) {
                return false;
            }
        }
        i += static_cast<std::size_t>(follow) + 1;
    }
    return true;
}

// Messages are UTF-8, or georef's own console text in Windows-1250; the
// latter is converted, so that the page (UTF-8) shows its letters.
std::string AsUtf8(const std::string& text) {
    if (IsUtf8(text)) {
        return text;
    }
    const iconv_t cd = ::iconv_open("UTF-8", "WINDOWS-1250");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return text;
    }
    std::string in = text;
    std::string out(text.size() * 3 + 4, '\0');
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const std::size_t converted = ::iconv(cd, &from, &fromLeft, &to, &toLeft);
    ::iconv_close(cd);
    if (converted == static_cast<std::size_t>(-1)) {
        return text;
    }
    out.resize(out.size() - toLeft);
    return out;
}

// Page text: georef's own messages made UTF-8 first.
std::string Escape(const std::string& raw) {
    return platform::EscapeHtml(AsUtf8(raw));
}

// A relative URL path: each segment percent-encoded where needed.
std::string UrlPath(const fs::path& path) {
    return platform::PercentEncodePath(path.generic_string());
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A number cell: shown rounded, sorted by the full value; empty without one.
template <typename T>
std::string NumberCell(const std::optional<T>& value, int decimals) {
    if (!value || !std::isfinite(static_cast<double>(*value))) {
        return "<td class=\"num\" data-v=\"\"></td>";
    }
    std::ostringstream cell;
    cell.precision(17);
    cell << "<td class=\"num\" data-v=\"" << static_cast<double>(*value) << "\">"
         << Fixed(static_cast<double>(*value), decimals) << "</td>";
    return cell.str();
}

struct MapPoint {
    double x = 0.0;  // metres east of the map frame's west edge
    double y = 0.0;  // metres south of its north edge
};

// Douglas-Peucker: the vertices of a closed outline that keep every dropped
// vertex within tolerance of the chord that replaces it. The first vertex
// always stays.
std::vector<MapPoint> Simplify(const std::vector<MapPoint>& ring, double tolerance) {
    const std::size_t n = ring.size();
    if (n < 4) {
        return ring;
    }
    std::vector<bool> keep(n + 1, false);
    keep[0] = keep[n] = true;
    const auto at = [&](std::size_t i) -> const MapPoint& { return ring[i % n]; };  // index n closes the ring
    std::vector<std::pair<std::size_t, std::size_t>> pending = {{0, n}};
    while (!pending.empty()) {
        const auto [first, last] = pending.back();
        pending.pop_back();
        const MapPoint& a = at(first);
        const MapPoint& b = at(last);
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double length = std::hypot(dx, dy);
        double worst = -1.0;
        std::size_t worstAt = first;
        for (std::size_t i = first + 1; i < last; ++i) {
            const MapPoint& p = at(i);
            const double d = length > 0.0 ? std::fabs(dx * (a.y - p.y) - dy * (a.x - p.x)) / length
                                          : std::hypot(p.x - a.x, p.y - a.y);
            if (d > worst) {
                worst = d, worstAt = i;
            }
        }
        if (worst > tolerance) {
            keep[worstAt] = true;
            pending.push_back({first, worstAt});
            pending.push_back({worstAt, last});
        }
    }
    std::vector<MapPoint> kept;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i]) {
            kept.push_back(ring[i]);
        }
    }
    return kept;
}

using batch::CornerFigures;

struct Row {
    int sheet = 0;
    SheetResult result;
    const SheetOutline* outline = nullptr;
};

// The number of a sheet as the batch lists it (five digits).
int SheetNumber(const SheetResult& result) noexcept {
    return std::atoi(result.sheet.c_str());
}

// What the page says of a sheet: the batch's message, and for a sheet that
// only an earlier batch ran, that it was.
std::string MessageOf(const SheetResult& r) {
    if (!r.earlier) {
        return r.message;
    }
    return r.status == SheetStatus::done ? std::string("finished by an earlier batch")
                                         : "in an earlier batch: " + r.message;
}

// A figure of the corner fit, when the sheet has one.
std::optional<double> FitFigure(const SheetResult& r, double CornerFigures::*figure) {
    return r.corners ? std::optional<double>((*r.corners).*figure) : std::nullopt;
}

// A figure of the sheet's run; sheets not in the list have none.
template <typename T>
std::optional<T> RunFigure(const SheetResult& r, T value) {
    return r.status == SheetStatus::notInList ? std::nullopt : std::optional<T>(value);
}

class PageWriter {
public:
    PageWriter(const ReviewInput& input, const PageOptions& options, const fs::path& staging,
               const fs::path& finalDirectory)
        : m_input(input), m_options(options), m_staging(staging), m_final(finalDirectory) {}

    ReviewPage Write() {
        ReadOutlines();
        CollectRows();
        OpenMosaic();
        ReadImageKeys();
        std::ostringstream html;
        html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
             << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             << "<title>" << Escape(m_input.title) << "</title>\n<style>" << detail::kPageStyle << "</style>\n"
             << "</head>\n<body>\n<h1>" << Escape(m_input.title) << "</h1>\n";
        WriteLegend(html);
        WriteOverview(html);
        WriteTable(html);
        WriteSeams(html);
        for (const std::string& note : m_notes) {
            html << "<p class=\"note\">" << Escape(note) << "</p>\n";
        }
        for (const std::string& w : m_page.warnings) {
            html << "<p class=\"note\">" << Escape(w) << "</p>\n";
        }
        html << "<script>" << detail::kPageScript << "</script>\n</body>\n</html>\n";

        WriteImageKeys();
        const std::string text = html.str();
        platform::AtomicFile index((m_staging / "index.html").string());
        if (std::fwrite(text.data(), 1, text.size(), index.Stream()) != text.size()) {
            throw ReviewError("cannot write " + index.Target());
        }
        index.Commit();
        m_page.indexPath = (m_final / "index.html").string();
        m_page.sheetRows = static_cast<int>(m_rows.size());
        return m_page;
    }

private:
    void ReadOutlines() {
        try {
            m_outlines = ReadSheetOutlines(m_input.configPath);
        } catch (const transform::DamagedFile& e) {
            throw ReviewError("damaged " + m_input.configPath + ": " + e.what());
        } catch (const std::runtime_error& e) {
            throw ReviewError(e.what());
        }
        for (const SheetOutline& o : m_outlines) {
            m_outlineOf[o.sheet] = &o;
        }
    }

    // The batch's entries (a later entry for the same sheet replaces an
    // earlier one) and every other sheet of config.bin, not in the list.
    void CollectRows() {
        std::map<int, SheetResult> bySheet;
        for (const SheetResult& s : m_input.sheets) {
            bySheet[SheetNumber(s)] = s;
        }
        for (const SheetOutline& o : m_outlines) {
            if (bySheet.find(o.sheet) == bySheet.end()) {
                SheetResult r;
                r.sheet = std::to_string(o.sheet);
                r.status = SheetStatus::notInList;
                bySheet[o.sheet] = r;
            }
        }
        for (const auto& [sheet, result] : bySheet) {
            const auto found = m_outlineOf.find(sheet);
            m_rows.push_back({sheet, result, found == m_outlineOf.end() ? nullptr : found->second});
            m_statusOf[sheet] = result.status;
        }
        std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& a, const Row& b) {
            return StatusRank(a.result.status) < StatusRank(b.result.status);
        });
    }

    // The keys (Mosaic::ImageKey) of the images of the page in place, from
    // its .images file: one "name<TAB>key<TAB>width<TAB>height" a line.
    void ReadImageKeys() {
        std::ifstream in(m_final / kImageKeys);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string name;
            KeptImage kept;
            if (std::getline(fields, name, '\t') && std::getline(fields, kept.key, '\t') &&
                (fields >> kept.width >> kept.height) && kept.width > 0 && kept.height > 0) {
                m_kept[name] = kept;
            }
        }
    }

    void WriteImageKeys() {
        std::string text;
        for (const auto& [name, image] : m_drawn) {
            text += name + '\t' + image.key + '\t' + std::to_string(image.width) + '\t' +
                    std::to_string(image.height) + '\n';
        }
        platform::AtomicFile file((m_staging / kImageKeys).string());
        if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
            throw ReviewError("cannot write " + file.Target());
        }
        file.Commit(platform::Durability::renamedOnly);
    }

    // The image name (relative to the page) drawn from what key says: the
    // earlier page's, linked into the new page when it was drawn from the
    // same, else drawn by draw. Empty when draw draws nothing.
    template <typename Draw>
    std::optional<WrittenImage> Image(const std::string& name, const std::string& key, Draw draw) {
        const auto kept = m_kept.find(name);
        if (!key.empty() && kept != m_kept.end() && kept->second.key == key) {
            std::error_code error;
            fs::create_hard_link(m_final / name, m_staging / name, error);
            if (error) {
                error.clear();
                fs::copy_file(m_final / name, m_staging / name, error);
            }
            if (!error) {
                m_drawn[name] = kept->second;
                return WrittenImage{kept->second.width, kept->second.height, m_mosaic->Extent()};
            }
        }
        std::optional<WrittenImage> image = draw((m_staging / name).string());
        if (image && !key.empty()) {
            m_drawn[name] = KeptImage{key, image->width, image->height};
        }
        return image;
    }

    void OpenMosaic() {
        if (m_input.mosaicPath.empty()) {
            // The caller knows it gave none: said on the page, not returned.
            m_notes.push_back("No mosaic yet: the map shows the sheets' outlines only.");
            return;
        }
        try {
            m_mosaic.emplace(Mosaic::Open(m_input.mosaicPath));
        } catch (const MosaicError& e) {
            m_page.warnings.push_back(std::string(e.what()) + "; the map shows the sheets' outlines only.");
        }
    }

    void WriteLegend(std::ostream& html) const {
        std::map<SheetStatus, int> counts;
        for (const Row& r : m_rows) {
            ++counts[r.result.status];
        }
        html << "<p class=\"legend\">";
        for (const SheetStatus s :
             {SheetStatus::done, SheetStatus::failed, SheetStatus::skipped, SheetStatus::notInList}) {
            html << "<span class=\"" << StatusClass(s) << "\"><i></i>" << StatusName(s) << ": " << counts[s]
                 << "</span>";
        }
        html << "</p>\n";
    }

    void WriteOverview(std::ostream& html) {
        // What the overview map shows.
        MapExtent frame = MapExtent::Nothing();
        for (const SheetOutline& o : m_outlines) {
            for (const transform::OutputPoint& p : o.vertices) {
                frame.Add(-p.Y, -p.X);
            }
        }
        std::optional<WrittenImage> image;
        if (m_mosaic) {
            try {
                image = Image("overview.jpg", m_mosaic->ImageKey(nullptr, m_options.overviewMaxWidth),
                              [&](const std::string& path) {
                                  return std::optional<WrittenImage>(
                                      m_mosaic->WriteOverview(path, m_options.overviewMaxWidth));
                              });
                frame.Add(image->extent.west, image->extent.south);
                frame.Add(image->extent.east, image->extent.north);
            } catch (const MosaicError& e) {
                m_page.warnings.push_back(std::string(e.what()) + "; the map shows the sheets' outlines only.");
            }
        }
        html << "<h2>Overview</h2>\n";
        if (frame.Empty()) {
            html << "<p>config.bin holds no sheet to draw.</p>\n";
            return;
        }
        // A margin of 2 % around everything; SVG units are metres from the
        // frame's north-west corner, x east and y south.
        const double margin = 0.02 * std::max(frame.Width(), frame.Height());
        frame.Add(frame.west - margin, frame.south - margin);
        frame.Add(frame.east + margin, frame.north + margin);
        const long width = std::lround(frame.Width());
        const long height = std::lround(frame.Height());
        // A quarter of a pixel of the map at its widest.
        const double tolerance = std::max(1.0, 0.25 * std::max(frame.Width(), frame.Height()) / 2000.0);
        const auto x = [&](double e) { return std::lround(e - frame.west); };
        const auto y = [&](double n) { return std::lround(frame.north - n); };

        html << "<div class=\"map\" id=\"overview\" style=\"aspect-ratio: " << width << " / " << height << "\">\n";
        if (image) {
            const MapExtent& ex = image->extent;
            html << "<img src=\"overview.jpg\" alt=\"mosaic\" width=\"" << image->width << "\" height=\""
                 << image->height << "\" style=\"left:" << Fixed(100.0 * (ex.west - frame.west) / frame.Width(), 4)
                 << "%;top:" << Fixed(100.0 * (frame.north - ex.north) / frame.Height(), 4)
                 << "%;width:" << Fixed(100.0 * (ex.east - ex.west) / frame.Width(), 4)
                 << "%;height:" << Fixed(100.0 * (ex.north - ex.south) / frame.Height(), 4) << "%\">\n";
        }
        html << "<svg viewBox=\"0 0 " << width << ' ' << height << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
        for (const Row& r : m_rows) {
            if (r.outline == nullptr || r.outline->vertices.size() < 3) {
                continue;
            }
            MapExtent box = MapExtent::Nothing();
            std::vector<MapPoint> ring;
            for (const transform::OutputPoint& p : r.outline->vertices) {
                box.Add(-p.Y, -p.X);
                ring.push_back({-p.Y - frame.west, frame.north + p.X});
            }
            html << "<a href=\"#sheet-" << r.sheet << "\"><polygon id=\"outline-" << r.sheet
                 << "\" class=\"" << StatusClass(r.result.status) << "\" points=\"";
            bool first = true;
            for (const MapPoint& p : Simplify(ring, tolerance)) {
                html << (first ? "" : " ") << std::lround(p.x) << ',' << std::lround(p.y);
                first = false;
            }
            const double fontSize = 0.12 * std::min(box.Width(), box.Height());
            html << "\"><title>" << r.sheet << ": " << StatusName(r.result.status)
                 << (r.result.seams == "suspect" ? ", every measured seam suspect" : "") << "</title></polygon>"
                 << "<text x=\"" << x(0.5 * (box.west + box.east)) << "\" y=\"" << y(0.5 * (box.south + box.north))
                 << "\" font-size=\"" << std::lround(fontSize) << "\">" << r.sheet << "</text></a>\n";
        }
        detail::WriteSeamLines(html, FindSharedEdges(m_outlines), m_input.seams, m_input.seamThresholdMetres, frame.west,
                       frame.north);
        html << "</svg>\n</div>\n";
    }

    std::string PictureCell(int sheet, const SheetResult& r) {
        if (r.cornerPicture.empty()) {
            return "<td class=\"picture\"></td>";
        }
        const std::optional<std::pair<int, int>> size = ImageSize(r.cornerPicture);
        if (!size) {
            m_page.warnings.push_back("Corner picture of sheet " + std::to_string(sheet) +
                                      " cannot be read: " + r.cornerPicture);
            return "<td class=\"picture note\">picture missing: " + Escape(r.cornerPicture) + "</td>";
        }
        std::error_code ec;
        const fs::path picture = fs::absolute(r.cornerPicture, ec);
        const fs::path relative = fs::relative(picture, fs::absolute(m_final, ec), ec);
        return "<td class=\"picture\"><img loading=\"lazy\" alt=\"corners of " + std::to_string(sheet) +
               "\" src=\"" + Escape(UrlPath(relative.empty() ? picture : relative)) + "\" width=\"" +
               std::to_string(size->first) + "\" height=\"" + std::to_string(size->second) + "\"></td>";
    }

    void WriteTable(std::ostream& html) {
        html << "<h2>Sheets</h2>\n<table id=\"sheets\">\n<thead><tr>"
             << "<th data-type=\"num\">Sheet</th><th data-type=\"num\">Status</th><th>Message</th>"
             << "<th data-type=\"num\">RMS (m)</th><th data-type=\"num\">Worst (m)</th>"
             << "<th data-type=\"num\">Scan dpi</th><th data-type=\"num\">Rotation (&deg;)</th>"
             << "<th data-type=\"num\">Time (s)</th><th data-type=\"num\">Tiles</th><th>Seams</th><th>Corners</th>"
             << "</tr></thead>\n<tbody>\n";
        for (const Row& row : m_rows) {
            const SheetResult& r = row.result;
            html << "<tr id=\"sheet-" << row.sheet << "\" class=\"" << StatusClass(r.status) << "\">"
                 << "<td class=\"num\" data-v=\"" << row.sheet << "\">" << row.sheet << "</td>"
                 << "<td class=\"status\" data-v=\"" << StatusRank(r.status) << "\">" << StatusName(r.status)
                 << "</td><td class=\"message\">" << Escape(MessageOf(r))
                 << (row.outline == nullptr && r.status != SheetStatus::notInList ? " (not in config.bin)" : "")
                 << "</td>" << NumberCell(FitFigure(r, &CornerFigures::rmsMetres), 2)
                 << NumberCell(FitFigure(r, &CornerFigures::worstMetres), 2)
                 << NumberCell(FitFigure(r, &CornerFigures::dpi), 0)
                 << NumberCell(FitFigure(r, &CornerFigures::rotationDegrees), 3)
                 << NumberCell(RunFigure(r, r.seconds), 1) << NumberCell(RunFigure(r, r.tilesWritten), 0)
                 << "<td class=\"seams-" << (r.seams.empty() ? "none" : r.seams) << "\">" << Escape(r.seams) << "</td>"
                 << PictureCell(row.sheet, r) << "</tr>\n";
        }
        html << "</tbody>\n</table>\n";
    }

    void WriteSeams(std::ostream& html) {
        std::vector<SharedEdge> edges;
        for (const SharedEdge& e : FindSharedEdges(m_outlines)) {
            // In the mosaic: painted by this batch or, unchanged since, by an earlier one.
            const auto done = [&](int sheet) {
                const auto found = m_statusOf.find(sheet);
                return found != m_statusOf.end() &&
                       (found->second == SheetStatus::done || found->second == SheetStatus::skipped);
            };
            if (done(e.first) && done(e.second)) {
                edges.push_back(e);
            }
        }
        html << "<h2>Seams</h2>\n";
        if (edges.empty()) {
            html << "<p>No two neighbouring sheets are both done.</p>\n";
            return;
        }
        if (!m_mosaic) {
            html << "<p>Without a mosaic the seams cannot be shown.</p>\n";
            return;
        }
        // Suspect seams first, then those measured, then the others.
        std::stable_sort(edges.begin(), edges.end(), [&](const SharedEdge& a, const SharedEdge& b) {
            return detail::SeamRank(detail::FiguresOf(m_input.seams, a)) < detail::SeamRank(detail::FiguresOf(m_input.seams, b));
        });
        fs::create_directory(m_staging / "seams");
        StripOptions strip;
        strip.maxLengthPixels = m_options.seamMaxLengthPixels;
        html << "<div class=\"seams\">\n";
        for (const SharedEdge& e : edges) {
            const std::string name = std::to_string(e.first) + "-" + std::to_string(e.second) + ".jpg";
            std::optional<WrittenImage> image;
            try {
                image = Image("seams/" + name, m_mosaic->ImageKey(&e, 0, strip),
                              [&](const std::string& path) { return m_mosaic->WriteSeamStrip(e, path, strip); });
            } catch (const MosaicError& error) {
                m_page.warnings.push_back(error.what());
            }
            const SeamFigures* figures = detail::FiguresOf(m_input.seams, e);
            html << "<figure id=\"seam-" << e.first << "-" << e.second << "\" class=\"seam-"
                 << (figures == nullptr ? "unmeasured" : figures->status) << "\"><figcaption>"
                 << Escape(detail::SeamDescription(figures)) << "; <a href=\"#sheet-"
                 << e.first << "\">" << e.first << "</a> above, <a href=\"#sheet-" << e.second << "\">" << e.second
                 << "</a> below; " << (e.meridian ? "north at right" : "west at left")
                 << "; red ticks mark the shared edge</figcaption>";
            if (image) {
                html << "<img loading=\"lazy\" src=\"seams/" << name << "\" width=\"" << image->width
                     << "\" height=\"" << image->height << "\" alt=\"seam " << e.first << " | " << e.second << "\">";
                ++m_page.seams;
            } else {
                html << "<p class=\"note\">This edge lies outside the mosaic.</p>";
            }
            html << "</figure>\n";
        }
        html << "</div>\n";
    }

    const ReviewInput& m_input;
    const PageOptions& m_options;
    fs::path m_staging;
    fs::path m_final;
    std::vector<SheetOutline> m_outlines;
    std::map<int, const SheetOutline*> m_outlineOf;
    std::map<int, SheetStatus> m_statusOf;
    std::vector<Row> m_rows;
    std::optional<Mosaic> m_mosaic;
    ReviewPage m_page;
    std::vector<std::string> m_notes;  // what the page says that the caller knows already
    struct KeptImage {
        std::string key;
        int width = 0;
        int height = 0;
    };
    std::map<std::string, KeptImage> m_kept;   // the earlier page's images, by name
    std::map<std::string, KeptImage> m_drawn;  // this page's
};

}  // namespace

ReviewPage WriteReviewPage(const ReviewInput& input, const PageOptions& options) {
    const fs::path outputDirectory(input.outputDirectory);
    std::error_code ec;
    if (!fs::is_directory(outputDirectory, ec)) {
        throw ReviewError("the output directory " + input.outputDirectory + " does not exist");
    }
    const fs::path target = outputDirectory / "review";
    const std::optional<platform::RegionLock> lock = LockPages(outputDirectory);
    StagingDirectory staging(outputDirectory);
    ReviewPage page;
    try {
        page = PageWriter(input, options, staging.Path(), target).Write();
    } catch (const fs::filesystem_error& e) {
        throw ReviewError(e.what());
    } catch (const MosaicError& e) {
        throw ReviewError(e.what());
    } catch (const std::runtime_error& e) {
        if (dynamic_cast<const ReviewError*>(&e) != nullptr) {
            throw;
        }
        throw ReviewError(e.what());
    }
    staging.SwapInto(target);
    return page;
}

}  // namespace georef::review
