#include "corners/sheet_identity.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "corners/frame.hpp"
#include "geometry/sheet_geometry.hpp"

namespace georef::corners {

namespace {

// Two angles read from labels are the same line when they differ by less
// than this, degrees (a tenth of the smallest step printed, one second).
constexpr double kSameAngle = 0.1 / 3600.0;
// The series' graticule: meridians every 15' of longitude and parallels
// every 7.5' of latitude bound its sheets.
constexpr double kMeridianStep = 0.25;
constexpr double kParallelStep = 0.125;
// Where the series lies, degrees: longitude east of Ferro and latitude.
constexpr double kLowestLongitude = 25.0;
constexpr double kHighestLongitude = 45.0;
constexpr double kLowestLatitude = 48.0;
constexpr double kHighestLatitude = 52.0;

bool SameAngle(double a, double b) noexcept { return std::fabs(a - b) < kSameAngle; }

bool OnStep(double degrees, double step) noexcept {
    const double steps = degrees / step;
    return std::fabs(steps - std::round(steps)) * step < kSameAngle;
}

bool IsMeridian(double lon) noexcept {
    return lon >= kLowestLongitude && lon <= kHighestLongitude && OnStep(lon, kMeridianStep);
}

bool IsParallel(double lat) noexcept {
    return lat >= kLowestLatitude && lat <= kHighestLatitude && OnStep(lat, kParallelStep);
}

// Corners LD, LH, PH, PD: west for LD and LH, north for LH and PH.
constexpr bool West(int corner) noexcept { return corner == 0 || corner == 1; }
constexpr bool North(int corner) noexcept { return corner == 1 || corner == 2; }

double ExpectedLongitude(const geometry::SheetGraticule& g, int corner) noexcept {
    return West(corner) ? g.lonWest : g.lonEast;
}
double ExpectedLatitude(const geometry::SheetGraticule& g, int corner) noexcept {
    return North(corner) ? g.latNorth : g.latSouth;
}

// What the corner labels read, as the west meridian and south parallel of
// one sheet: each empty when no label of that kind was read; consistent is
// false when two labels disagree on it.
struct LabelGraticule {
    std::optional<double> lonWest;
    std::optional<double> latSouth;
    bool consistent = true;
    int read = 0;
};

void Merge(std::optional<double>& into, double value, bool& consistent) {
    if (!into) {
        into = value;
    } else if (!SameAngle(*into, value)) {
        consistent = false;
    }
}

LabelGraticule GraticuleFromLabels(const SheetReading& r) {
    LabelGraticule labels;
    for (int k = 0; k < 4; ++k) {
        const std::optional<double>& lon = r.longitude[static_cast<std::size_t>(k)];
        const std::optional<double>& lat = r.latitude[static_cast<std::size_t>(k)];
        if (lon && IsMeridian(*lon)) {
            Merge(labels.lonWest, West(k) ? *lon : *lon - kMeridianStep, labels.consistent);
            ++labels.read;
        }
        if (lat && IsParallel(*lat)) {
            Merge(labels.latSouth, North(k) ? *lat - kParallelStep : *lat, labels.consistent);
            ++labels.read;
        }
    }
    return labels;
}

// True when the labels place the sheet where g does, on every line they read.
bool LabelsShow(const LabelGraticule& labels, const geometry::SheetGraticule& g) {
    return (!labels.lonWest || SameAngle(*labels.lonWest, g.lonWest)) &&
           (!labels.latSouth || SameAngle(*labels.latSouth, g.latSouth));
}

// The labels that read another value than sheet g has there: "49°45' at LD".
std::vector<std::string> Disagreements(const SheetReading& r, const geometry::SheetGraticule& g) {
    std::vector<std::string> found;
    for (int k = 0; k < 4; ++k) {
        const std::optional<double>& lon = r.longitude[static_cast<std::size_t>(k)];
        const std::optional<double>& lat = r.latitude[static_cast<std::size_t>(k)];
        const std::string at = std::string(" at ") + kCornerNames[static_cast<std::size_t>(k)];
        if (lon && IsMeridian(*lon) && !SameAngle(*lon, ExpectedLongitude(g, k))) {
            found.push_back(AngleText(*lon) + at + " (not " + AngleText(ExpectedLongitude(g, k)) + ")");
        }
        if (lat && IsParallel(*lat) && !SameAngle(*lat, ExpectedLatitude(g, k))) {
            found.push_back(AngleText(*lat) + at + " (not " + AngleText(ExpectedLatitude(g, k)) + ")");
        }
    }
    return found;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) {
        text += (text.empty() ? "" : ", ") + p;
    }
    return text;
}

}  // namespace

std::string Designation(int sheetNumber) {
    const std::string digits = std::to_string(sheetNumber);
    return digits.substr(0, digits.size() - 1) + "/" + digits.substr(digits.size() - 1);
}

std::optional<int> SheetFromTitle(const std::string& text) {
    const auto digit = [&text](std::size_t i) { return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); };
    for (std::size_t start = 0; start + 4 < text.size(); ++start) {
        if ((start > 0 && digit(start - 1)) || !(digit(start) && digit(start + 1) && digit(start + 2) && digit(start + 3))) {
            continue;
        }
        std::size_t i = start + 4;
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        if (i >= text.size() || text[i] != '/') {
            continue;
        }
        ++i;
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        if (!digit(i) || digit(i + 1) || text[i] < '1' || text[i] > '4') {
            continue;
        }
        const int sheet = std::stoi(text.substr(start, 4)) * 10 + (text[i] - '0');
        if (geometry::IsValidSheetNumber(sheet)) {
            return sheet;
        }
    }
    return std::nullopt;
}

std::optional<double> AngleFromLabel(const std::string& text) {
    // The digits in order; the signs between them are read too unreliably
    // to matter, but for a degree sign read as a zero.
    std::string digits;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    const auto number = [&digits](std::size_t at) { return (digits[at] - '0') * 10 + (digits[at + 1] - '0'); };
    int degrees = 0, minutes = 0, seconds = 0;
    switch (digits.size()) {
        case 4:  // 34 00
            degrees = number(0);
            minutes = number(2);
            break;
        case 5:  // 34 0 00: the degree sign read as a zero
            if (digits[2] != '0') {
                return std::nullopt;
            }
            degrees = number(0);
            minutes = number(3);
            break;
        case 6:  // 49 52 30
            degrees = number(0);
            minutes = number(2);
            seconds = number(4);
            break;
        case 7:  // 49 0 52 30
            if (digits[2] != '0') {
                return std::nullopt;
            }
            degrees = number(0);
            minutes = number(3);
            seconds = number(5);
            break;
        default:
            return std::nullopt;
    }
    if (minutes > 59 || seconds > 59) {
        return std::nullopt;
    }
    return degrees + minutes / 60.0 + seconds / 3600.0;
}

std::string AngleText(double degrees) {
    const long total = std::lround(degrees * 3600.0);
    char text[32];
    if (total % 60 == 0) {
        std::snprintf(text, sizeof text, "%ld\u00b0%02ld'", total / 3600, total / 60 % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld\u00b0%02ld'%02ld\"", total / 3600, total / 60 % 60, total % 60);
    }
    return text;
}

IdentityVerdict JudgeIdentity(const SheetReading& reading, int sheetNumber) {
    IdentityVerdict verdict;
    const geometry::SheetGraticule named = geometry::MakeSheetGraticule(sheetNumber);
    const LabelGraticule labels = GraticuleFromLabels(reading);
    verdict.titleRead = reading.titleSheet.has_value();
    verdict.labelsRead = labels.read;
    verdict.labelsAgreeing = labels.read - static_cast<int>(Disagreements(reading, named).size());
    if (!reading.attempted) {
        verdict.message = "the sheet's identity was not checked: " + reading.unreadableReason;
        return verdict;
    }
    const std::string name = Designation(sheetNumber);
    const std::vector<std::string> wrongLabels = Disagreements(reading, named);
    if (reading.titleSheet && *reading.titleSheet != sheetNumber) {
        const std::string read = Designation(*reading.titleSheet);
        const geometry::SheetGraticule titled = geometry::MakeSheetGraticule(*reading.titleSheet);
        // Labels read on lines where the two sheets differ decide between them.
        const bool lonDiffers = !SameAngle(named.lonWest, titled.lonWest);
        const bool latDiffers = !SameAngle(named.latSouth, titled.latSouth);
        const bool labelsForNamed = labels.consistent && ((lonDiffers && labels.lonWest) || (latDiffers && labels.latSouth)) &&
                                    LabelsShow(labels, named);
        if (labelsForNamed) {
            verdict.message = "the title reads " + read + " but the corner labels show " + name +
                              "'s graticule; the title is taken as misread";
            return verdict;
        }
        verdict.contradicted = true;
        verdict.message = "the scan reads " + read + ", not " + name;
        return verdict;
    }
    if (reading.titleSheet) {
        if (!wrongLabels.empty()) {
            verdict.message = "the title reads " + name + "; corner labels taken as misread: " + Join(wrongLabels);
        }
        return verdict;
    }
    if (labels.read >= 2 && labels.consistent && !wrongLabels.empty()) {
        verdict.contradicted = true;
        verdict.message = "the scan's corner labels are not sheet " + name + "'s: " + Join(wrongLabels);
        return verdict;
    }
    if (labels.read == 0) {
        verdict.message = "nothing legible confirms the sheet: neither the title's designation nor a corner label was read";
    } else if (!wrongLabels.empty()) {
        verdict.message = "corner labels taken as misread: " + Join(wrongLabels);
    }
    return verdict;
}

std::string DescribeReading(const SheetReading& reading) {
    if (!reading.attempted) {
        return "not read: " + reading.unreadableReason;
    }
    std::string text = reading.titleSheet ? "title " + Designation(*reading.titleSheet)
                                          : std::string("title not read");
    std::string labels;
    for (int k = 0; k < 4; ++k) {
        const std::optional<double>& lon = reading.longitude[static_cast<std::size_t>(k)];
        const std::optional<double>& lat = reading.latitude[static_cast<std::size_t>(k)];
        if (lon || lat) {
            labels += std::string(labels.empty() ? "" : ", ") + kCornerNames[static_cast<std::size_t>(k)] + " " +
                      (lon ? AngleText(*lon) : "-") + " " + (lat ? AngleText(*lat) : "-");
        }
    }
    if (labels.empty() && reading.labelsSkipped) {
        return text + "; corner labels not read (the title names the sheet)";
    }
    return text + "; corner labels " + (labels.empty() ? "not read" : labels);
}

}  // namespace georef::corners
