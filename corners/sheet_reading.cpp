#include "corners/sheet_reading.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cmath>
#include <memory>
#include <string>

#include <dlfcn.h>

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "geometry/sheet_geometry.hpp"

namespace georef::corners {

namespace {

// Paper millimetres of the sheet at 1:25 000 per ground metre.
constexpr double kMillimetresPerMetre = 1.0 / 25.0;
// The title band: above the top side, over its middle two fifths.
constexpr double kTitleFrom = 0.3;  // share of the top side from its west end
constexpr double kTitleTo = 0.7;
constexpr double kTitleNear = 3.0;   // millimetres beyond the neat line
constexpr double kTitleFar = 25.0;
constexpr double kTitleResolution = 6.0;  // pixels per millimetre: 5 mm capitals 30 px high
// The corner labels: a longitude label centred on the corner's meridian
// beyond the top or bottom side, a latitude label on the corner's parallel
// beyond the left or right side.
constexpr double kLabelNear = 2.5;           // millimetres beyond the neat line
constexpr double kLongitudeFar = 8.5;
constexpr double kLongitudeHalfWidth = 14.0;
constexpr double kLatitudeFar = 35.0;
constexpr double kLatitudeHalfHeight = 3.2;
constexpr double kLabelResolution = 11.0;    // 2.2 mm figures 24 px high
// What is kept as lettering, millimetres on the paper: no taller than this,
// no smaller in area, and not cut by the crop's edge (lines and the
// border are).
constexpr double kTallestLetter = 9.0;
constexpr double kSmallestInk = 0.05;  // square millimetres
// Ink is darker than the paper around it by this much, grey levels (the
// thin figures of a 150 dpi scan by about 60), and the paper's level is
// taken over this many millimetres, more than a letter's stroke.
constexpr double kInkContrast = 28.0;
constexpr double kPaperReach = 1.5;
// Window margin, scan pixels, for the interpolation at the crop's edge.
constexpr int kWindowMargin = 3;

const char* const kLabelCharacters = "0123456789'\"\u00b0";

std::atomic<LabelReading> g_labelReading{LabelReading::whenNeeded};

// Tesseract may run its networks on several OpenMP threads; the reading is
// a few small crops, and a batch keeps every core busy with sheets, so the
// engine runs on the calling thread alone. The switch is looked up in the
// OpenMP runtime Tesseract brought along, when it brought one.
void KeepOcrOnThisThread() noexcept {
    using SetLevels = void (*)(int);
    if (void* symbol = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels")) {
        reinterpret_cast<SetLevels>(symbol)(0);
    }
}

struct TessDeleter {
    void operator()(tesseract::TessBaseAPI* api) const noexcept {
        api->End();
        delete api;
    }
};
using Engine = std::unique_ptr<tesseract::TessBaseAPI, TessDeleter>;

// The engine of the calling thread, loaded on its first reading and kept
// for the next sheets (loading the English data costs more than reading a
// sheet's crops); null when the data cannot be loaded. Every reading sets
// the character list it needs, so nothing of one sheet carries over to the
// next but the loaded model.
tesseract::TessBaseAPI* ThreadEngine() {
    thread_local Engine engine;
    if (!engine) {
        Engine api(new tesseract::TessBaseAPI());
        // Tesseract's own messages would go to the console; the reading
        // reports what it found instead.
        api->SetVariable("debug_file", "/dev/null");
        if (api->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            return nullptr;
        }
        api->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
        engine = std::move(api);
    }
    return engine.get();
}

// Drops the engine's last image and results when a reading ends.
class EngineCleared {
public:
    explicit EngineCleared(tesseract::TessBaseAPI& api) noexcept : m_api(api) {}
    ~EngineCleared() { m_api.Clear(); }
    EngineCleared(const EngineCleared&) = delete;
    EngineCleared& operator=(const EngineCleared&) = delete;

private:
    tesseract::TessBaseAPI& m_api;
};

// Each line Tesseract reads in the image, in reading order.
std::vector<std::string> ReadLines(tesseract::TessBaseAPI& api, const cv::Mat& grey, double pixelsPerMillimetre) {
    std::vector<std::string> lines;
    api.SetImage(grey.data, grey.cols, grey.rows, 1, static_cast<int>(grey.step[0]));
    api.SetSourceResolution(static_cast<int>(std::lround(pixelsPerMillimetre * 25.4)));
    if (api.Recognize(nullptr) != 0) {
        return lines;
    }
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) {
        return lines;
    }
    do {
        const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (text) {
            std::string line;
            for (const char* c = text.get(); *c != '\0'; ++c) {
                const bool blank = *c == ' ' || *c == '\n' || *c == '\t';
                if (!blank || (!line.empty() && line.back() != ' ')) {
                    line += blank ? ' ' : *c;
                }
            }
            while (!line.empty() && line.back() == ' ') {
                line.pop_back();
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return lines;
}

}  // namespace

std::vector<TextCrop> SheetTextCrops(int sheetNumber) {
    const geometry::Matrix n = geometry::MakeNominalCorners(sheetNumber);
    const double width = std::hypot(n(4, 0) - n(2, 0), n(5, 0) - n(3, 0)) * kMillimetresPerMetre;
    const double height = std::hypot(n(2, 0) - n(0, 0), n(3, 0) - n(1, 0)) * kMillimetresPerMetre;
    std::vector<TextCrop> crops;
    crops.push_back({TextCrop::Kind::title, -1, kTitleFrom * width, kTitleTo * width, -kTitleFar, -kTitleNear,
                     kTitleResolution});
    for (int k = 0; k < 4; ++k) {
        const bool west = k == 0 || k == 1;
        const bool north = k == 1 || k == 2;
        const double p = west ? 0.0 : width;
        const double q = north ? 0.0 : height;
        TextCrop lon{TextCrop::Kind::longitude, k, p - kLongitudeHalfWidth, p + kLongitudeHalfWidth, 0.0, 0.0,
                     kLabelResolution};
        lon.q0 = north ? -kLongitudeFar : q + kLabelNear;
        lon.q1 = north ? -kLabelNear : q + kLongitudeFar;
        crops.push_back(lon);
        TextCrop lat{TextCrop::Kind::latitude, k, 0.0, 0.0, q - kLatitudeHalfHeight, q + kLatitudeHalfHeight,
                     kLabelResolution};
        lat.p0 = west ? -kLatitudeFar : p + kLabelNear;
        lat.p1 = west ? -kLabelNear : p + kLatitudeFar;
        crops.push_back(lat);
    }
    return crops;
}

CropPlacement::CropPlacement(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners)
    : m_corners(sheetCorners) {
    const geometry::Matrix n = geometry::MakeNominalCorners(sheetNumber);
    m_widthMillimetres = std::hypot(n(4, 0) - n(2, 0), n(5, 0) - n(3, 0)) * kMillimetresPerMetre;
    m_heightMillimetres = std::hypot(n(2, 0) - n(0, 0), n(3, 0) - n(1, 0)) * kMillimetresPerMetre;
}

PlanePoint CropPlacement::At(double p, double q) const noexcept {
    // Bilinear between the corners, extrapolated beyond them: s east along
    // the sides, t south.
    const double s = p / m_widthMillimetres;
    const double t = q / m_heightMillimetres;
    const PlanePoint& ld = m_corners[0];
    const PlanePoint& lh = m_corners[1];
    const PlanePoint& ph = m_corners[2];
    const PlanePoint& pd = m_corners[3];
    const double a = (1.0 - s) * (1.0 - t), b = s * (1.0 - t), c = (1.0 - s) * t, d = s * t;
    return {a * lh.column + b * ph.column + c * ld.column + d * pd.column,
            a * lh.row + b * ph.row + c * ld.row + d * pd.row};
}

cv::Rect CropPlacement::Window(const TextCrop& crop) const {
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    for (const double p : {crop.p0, crop.p1}) {
        for (const double q : {crop.q0, crop.q1}) {
            const PlanePoint x = At(p, q);
            left = std::min(left, x.column);
            right = std::max(right, x.column);
            top = std::min(top, x.row);
            bottom = std::max(bottom, x.row);
        }
    }
    const int x0 = static_cast<int>(std::floor(left)) - kWindowMargin;
    const int y0 = static_cast<int>(std::floor(top)) - kWindowMargin;
    const int x1 = static_cast<int>(std::ceil(right)) + kWindowMargin;
    const int y1 = static_cast<int>(std::ceil(bottom)) + kWindowMargin;
    return {x0, y0, x1 - x0, y1 - y0};
}

cv::Mat CropPlacement::Cut(const TextCrop& crop, const cv::Rect& window, const cv::Mat& pixels) const {
    const double k = crop.pixelsPerMillimetre;
    const int width = std::max(1, static_cast<int>(std::lround((crop.p1 - crop.p0) * k)));
    const int height = std::max(1, static_cast<int>(std::lround((crop.q1 - crop.q0) * k)));
    // Crop pixel (x, y) has its centre at paper (p0 + (x + 0.5) / k, q0 + (y + 0.5) / k).
    const auto source = [&](double x, double y) {
        const PlanePoint at = At(crop.p0 + (x + 0.5) / k, crop.q0 + (y + 0.5) / k);
        return cv::Point2f(static_cast<float>(at.column - window.x), static_cast<float>(at.row - window.y));
    };
    const cv::Point2f to[3] = {{0.0f, 0.0f}, {static_cast<float>(width), 0.0f}, {0.0f, static_cast<float>(height)}};
    const cv::Point2f from[3] = {source(0, 0), source(width, 0), source(0, height)};
    const cv::Mat map = cv::getAffineTransform(to, from);
    cv::Mat grey;
    cv::cvtColor(pixels, grey, cv::COLOR_RGB2GRAY);
    cv::Mat upright;
    cv::warpAffine(grey, upright, map, cv::Size(width, height), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);

    cv::Mat clean(height, width, CV_8U, cv::Scalar(255));
    // Ink is what is darker than the paper around it: the paper's level is
    // the crop closed over more than a stroke's width, which keeps large
    // dark areas (the scanner's bed beyond the paper, a filled border) as
    // they are, so that they are not taken for ink.
    const int reach = 2 * static_cast<int>(std::lround(kPaperReach * k / 2.0)) + 1;
    cv::Mat paper;
    cv::morphologyEx(upright, paper, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(reach, reach)));
    cv::Mat darker;
    cv::subtract(paper, upright, darker);
    cv::Mat ink;
    cv::threshold(darker, ink, kInkContrast, 255, cv::THRESH_BINARY);
    if (cv::countNonZero(ink) == 0) {
        return clean;
    }
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    std::vector<unsigned char> keep(static_cast<std::size_t>(count), 0);
    for (int c = 1; c < count; ++c) {
        const int x = stats.at<int>(c, cv::CC_STAT_LEFT);
        const int y = stats.at<int>(c, cv::CC_STAT_TOP);
        const int w = stats.at<int>(c, cv::CC_STAT_WIDTH);
        const int h = stats.at<int>(c, cv::CC_STAT_HEIGHT);
        const int area = stats.at<int>(c, cv::CC_STAT_AREA);
        const bool cut = x == 0 || y == 0 || x + w == width || y + h == height;
        keep[static_cast<std::size_t>(c)] = !cut && h <= kTallestLetter * k && area >= kSmallestInk * k * k;
    }
    for (int r = 0; r < height; ++r) {
        const int* label = labels.ptr<int>(r);
        unsigned char* out = clean.ptr<unsigned char>(r);
        for (int c = 0; c < width; ++c) {
            if (keep[static_cast<std::size_t>(label[c])] != 0) {
                out[c] = 0;
            }
        }
    }
    return clean;
}

void SetLabelReading(LabelReading mode) noexcept { g_labelReading.store(mode); }

LabelReading CurrentLabelReading() noexcept { return g_labelReading.load(); }

SheetReading ReadCrops(const std::vector<TextCrop>& crops, const std::vector<cv::Mat>& cut) {
    SheetReading reading;
    tesseract::TessBaseAPI* const api = ThreadEngine();
    if (api == nullptr) {
        reading.unreadableReason = "the OCR engine's English data cannot be loaded";
        return reading;
    }
    const EngineCleared cleared(*api);
    KeepOcrOnThisThread();
    reading.attempted = true;
    for (std::size_t i = 0; i < crops.size() && i < cut.size(); ++i) {
        const TextCrop& crop = crops[i];
        if (cv::countNonZero(255 - cut[i]) == 0) {
            continue;  // nothing printed there
        }
        const bool label = crop.kind != TextCrop::Kind::title;
        api->SetVariable("tessedit_char_whitelist", label ? kLabelCharacters : "");
        const std::vector<std::string> lines = ReadLines(*api, cut[i], crop.pixelsPerMillimetre);
        const std::size_t corner = static_cast<std::size_t>(std::max(0, crop.corner));
        for (const std::string& line : lines) {
            if (crop.kind == TextCrop::Kind::title) {
                if (reading.titleText.empty()) {
                    reading.titleText = line;
                }
                if (const std::optional<int> sheet = SheetFromTitle(line)) {
                    reading.titleText = line;
                    reading.titleSheet = sheet;
                    break;
                }
            } else {
                std::string& text = crop.kind == TextCrop::Kind::longitude ? reading.longitudeText[corner]
                                                                           : reading.latitudeText[corner];
                std::optional<double>& angle = crop.kind == TextCrop::Kind::longitude ? reading.longitude[corner]
                                                                                      : reading.latitude[corner];
                if (text.empty()) {
                    text = line;
                }
                if (const std::optional<double> read = AngleFromLabel(line)) {
                    text = line;
                    angle = read;
                    break;
                }
            }
        }
    }
    return reading;
}

std::vector<cv::Rect> ReadingWindows(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners,
                                     double slackPixels, const cv::Size& image) {
    const CropPlacement placement(sheetNumber, sheetCorners);
    const int slack = static_cast<int>(std::ceil(slackPixels));
    std::vector<cv::Rect> windows;
    for (const TextCrop& crop : SheetTextCrops(sheetNumber)) {
        cv::Rect w = placement.Window(crop);
        w = cv::Rect(w.x - slack, w.y - slack, w.width + 2 * slack, w.height + 2 * slack);
        windows.push_back(w & cv::Rect(cv::Point(0, 0), image));
    }
    return windows;
}

SheetReading ReadSheet(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners,
                       const std::vector<cv::Rect>& windows, const std::vector<cv::Mat>& pixels) {
    const std::vector<TextCrop> crops = SheetTextCrops(sheetNumber);  // the title first, then the labels
    const CropPlacement placement(sheetNumber, sheetCorners);
    const auto cut = [&](std::size_t i) {
        // What lies beyond the scan is read as paper.
        return i >= windows.size() || i >= pixels.size() || windows[i].empty()
                   ? cv::Mat(1, 1, CV_8U, cv::Scalar(255))
                   : placement.Cut(crops[i], windows[i], pixels[i]);
    };
    SheetReading reading = ReadCrops({crops.front()}, {cut(0)});
    if (!reading.attempted) {
        return reading;
    }
    if (reading.titleSheet == sheetNumber && CurrentLabelReading() == LabelReading::whenNeeded) {
        reading.labelsSkipped = true;
        return reading;
    }
    const std::vector<TextCrop> labelCrops(crops.begin() + 1, crops.end());
    std::vector<cv::Mat> labelCuts;
    for (std::size_t i = 1; i < crops.size(); ++i) {
        labelCuts.push_back(cut(i));
    }
    const SheetReading labels = ReadCrops(labelCrops, labelCuts);
    reading.longitudeText = labels.longitudeText;
    reading.latitudeText = labels.latitudeText;
    reading.longitude = labels.longitude;
    reading.latitude = labels.latitude;
    return reading;
}

}  // namespace georef::corners
