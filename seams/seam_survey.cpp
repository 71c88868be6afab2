#include "seams/seam_survey.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/atomic_file.hpp"
#include "review/sheet_outlines.hpp"
#include "seams/crossing_lines.hpp"
#include "seams/seam_offset.hpp"
#include "seams/seam_strip.hpp"

namespace georef::seams {

namespace {

// The band beside the edge holds at most this many rows on each side: more
// adds time, not lines.
constexpr int kLargestHalfRows = 64;
// A side with this many times the least number of lines a seam is
// measured on, against a side with too few to measure and under the least
// share of them, is a seam whose content does not continue: suspect, not
// unmeasured. (Correct seams of the test landscape at 150 dpi can have an
// eighth as many lines on one side as on the other, but never too few.)
constexpr double kOneSidedLeast = 3.0;
// Where third sheets meet the edge, at both ends.
constexpr double kEndFraction = 0.02;

const char* const kHeader = "sheet,neighbour,edge,length_m,along_m,across_m,features,status";

std::string Figure(const std::optional<double>& value) {
    if (!value) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", *value);
    return text;
}

// Strips read from the mosaic at once: each tile they cross is decoded once
// for all of them, and they are held together until measured (about 17 MB
// a strip of a 14 km edge at 300 dpi).
constexpr std::size_t kStripsAtOnce = 12;

int HalfRows(double pixel, const SeamOptions& options) {
    return std::clamp(static_cast<int>(std::ceil(options.bandMetres / pixel)), 8, kLargestHalfRows);
}

SeamMeasurement Measure(const SeamStrip& strip, const review::SharedEdge& edge, const SeamOptions& options) {
    SeamMeasurement m;
    m.sheet = edge.first;
    m.neighbour = edge.second;
    m.meridian = edge.meridian;
    const double pixel = strip.pixelMetres;
    m.lengthMetres = strip.lengthMetres;
    const CrossingOptions crossing;
    const std::vector<CrossingLine> first = FindCrossingLines(strip, StripSide::first, crossing);
    const std::vector<CrossingLine> second = FindCrossingLines(strip, StripSide::second, crossing);
    MatchOptions matching;
    matching.searchPixels = options.searchMetres / pixel;
    const double fewer = static_cast<double>(std::min(first.size(), second.size()));
    const double more = static_cast<double>(std::max(first.size(), second.size()));
    if (fewer < matching.leastFeatures && more >= kOneSidedLeast * matching.leastFeatures &&
        fewer < matching.leastShare * more) {
        m.status = SeamStatus::suspect;  // lines cross on one side and hardly any continue on the other
        return m;
    }
    if (fewer < matching.leastFeatures) {
        return m;  // too little crosses
    }
    const SeamOffset offset = MatchCrossings(first, second, matching);
    if (!offset.consistent) {
        m.status = SeamStatus::suspect;  // lines on both sides, yet they do not continue
        return m;
    }
    m.alongMetres = *offset.along * pixel;
    if (offset.across) {
        m.acrossMetres = *offset.across * pixel;
    }
    m.features = offset.features;
    m.status = *m.OffsetMetres() > options.thresholdMetres ? SeamStatus::suspect : SeamStatus::ok;
    return m;
}

}  // namespace

const char* SeamStatusName(SeamStatus status) noexcept {
    switch (status) {
        case SeamStatus::ok:
            return "ok";
        case SeamStatus::suspect:
            return "suspect";
        case SeamStatus::unmeasured:
            return "unmeasured";
    }
    return "unmeasured";
}

std::optional<double> SeamMeasurement::OffsetMetres() const noexcept {
    if (!alongMetres) {
        return std::nullopt;
    }
    return std::hypot(*alongMetres, acrossMetres.value_or(0.0));
}

std::vector<SeamMeasurement> MeasureSeams(const SurveyInput& input, const SeamOptions& options) {
    const std::vector<review::SharedEdge> edges = review::FindSharedEdges(review::ReadSheetOutlines(input.configPath));
    std::vector<review::SharedEdge> wanted;
    for (const review::SharedEdge& edge : edges) {
        const bool inMosaic = input.inMosaic.count(edge.first) != 0 && input.inMosaic.count(edge.second) != 0;
        const bool painted =
            input.painted.empty() || input.painted.count(edge.first) != 0 || input.painted.count(edge.second) != 0;
        if (inMosaic && painted) {
            wanted.push_back(edge);
        }
    }
    std::vector<SeamMeasurement> seams;
    if (wanted.empty()) {
        return seams;
    }
    const MosaicReader mosaic(input.mosaicPath);
    const int halfRows = HalfRows(mosaic.PixelMetres(), options);
    for (std::size_t first = 0; first < wanted.size(); first += kStripsAtOnce) {
        const std::vector<review::SharedEdge> group(
            wanted.begin() + static_cast<std::ptrdiff_t>(first),
            wanted.begin() + static_cast<std::ptrdiff_t>(std::min(wanted.size(), first + kStripsAtOnce)));
        const std::vector<SeamStrip> strips = mosaic.Strips(group, halfRows, kEndFraction);
        for (std::size_t k = 0; k < group.size(); ++k) {
            seams.push_back(Measure(strips[k], group[k], options));
        }
    }
    return seams;
}

std::string SheetVerdict(const std::vector<SeamMeasurement>& seams, int sheet) {
    int measured = 0, suspect = 0, all = 0;
    for (const SeamMeasurement& s : seams) {
        if (s.sheet != sheet && s.neighbour != sheet) {
            continue;
        }
        ++all;
        measured += s.status != SeamStatus::unmeasured;
        suspect += s.status == SeamStatus::suspect;
    }
    if (all == 0) {
        return "";
    }
    if (measured == 0) {
        return "unmeasured";
    }
    return suspect == measured ? "suspect" : "ok";
}

void WriteSeamsCsv(const std::vector<SeamMeasurement>& seams, const std::string& path) {
    std::vector<const SeamMeasurement*> order;
    for (const SeamMeasurement& s : seams) {
        order.push_back(&s);
    }
    std::stable_sort(order.begin(), order.end(), [](const SeamMeasurement* a, const SeamMeasurement* b) {
        return (a->status == SeamStatus::suspect) > (b->status == SeamStatus::suspect);
    });
    std::ostringstream text;
    text << kHeader << "\n";
    for (const SeamMeasurement* s : order) {
        char length[32];
        std::snprintf(length, sizeof(length), "%.0f", s->lengthMetres);
        text << s->sheet << "," << s->neighbour << "," << (s->meridian ? "east" : "south") << "," << length << ","
             << Figure(s->alongMetres) << "," << Figure(s->acrossMetres) << "," << s->features << ","
             << SeamStatusName(s->status) << "\n";
    }
    platform::AtomicFile file(path);
    const std::string bytes = text.str();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    file.Commit();
}

std::vector<SeamMeasurement> ReadSeamsCsv(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader) {
        return {};
    }
    std::vector<SeamMeasurement> seams;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, ',')) {
            fields.push_back(field);
        }
        if (line.back() == ',') {
            fields.emplace_back();
        }
        if (fields.size() != 8) {
            return {};
        }
        SeamMeasurement s;
        try {
            s.sheet = std::stoi(fields[0]);
            s.neighbour = std::stoi(fields[1]);
            s.meridian = fields[2] == "east";
            s.lengthMetres = std::stod(fields[3]);
            if (!fields[4].empty()) {
                s.alongMetres = std::stod(fields[4]);
            }
            if (!fields[5].empty()) {
                s.acrossMetres = std::stod(fields[5]);
            }
            s.features = std::stoi(fields[6]);
        } catch (const std::exception&) {
            return {};
        }
        const std::map<std::string, SeamStatus> statuses = {
            {"ok", SeamStatus::ok}, {"suspect", SeamStatus::suspect}, {"unmeasured", SeamStatus::unmeasured}};
        const auto status = statuses.find(fields[7]);
        if (status == statuses.end()) {
            return {};
        }
        s.status = status->second;
        seams.push_back(s);
    }
    return seams;
}

std::vector<SeamMeasurement> MergeSeams(const std::vector<SeamMeasurement>& older,
                                        const std::vector<SeamMeasurement>& newer) {
    std::vector<SeamMeasurement> merged;
    for (const SeamMeasurement& o : older) {
        const bool replaced = std::any_of(newer.begin(), newer.end(), [&](const SeamMeasurement& n) {
            return n.sheet == o.sheet && n.neighbour == o.neighbour;
        });
        if (!replaced) {
            merged.push_back(o);
        }
    }
    merged.insert(merged.end(), newer.begin(), newer.end());
    return merged;
}

void WriteSeamsTable(const std::vector<SeamMeasurement>& seams, std::ostream& out) {
    std::vector<const SeamMeasurement*> order;
    for (const SeamMeasurement& s : seams) {
        order.push_back(&s);
    }
    std::stable_sort(order.begin(), order.end(), [](const SeamMeasurement* a, const SeamMeasurement* b) {
        return (a->status == SeamStatus::suspect) > (b->status == SeamStatus::suspect);
    });
    out << "seam          along(m) across(m) features  status\n";
    int counts[3] = {0, 0, 0};
    for (const SeamMeasurement* s : order) {
        char line[128];
        std::snprintf(line, sizeof(line), "%05d|%05d  %9s %9s %8d  %s\n", s->sheet, s->neighbour,
                      Figure(s->alongMetres).c_str(), Figure(s->acrossMetres).c_str(), s->features,
                      SeamStatusName(s->status));
        out << line;
        ++counts[static_cast<int>(s->status)];
    }
    out << seams.size() << " seams: " << counts[0] << " ok, " << counts[1] << " suspect, " << counts[2]
        << " unmeasured\n";
}

}  // namespace georef::seams
