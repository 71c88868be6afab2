// The review page of a small real batch: two neighbouring sheets run through
// georef, two sheets that georef refuses, one skipped and one only in
// config.bin. The page is looked at in a headless Chromium.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include <cpl_vsi.h>
#include <gdal.h>

#include "devtools/headless_browser.hpp"
#include "review/mosaic.hpp"
#include "review/review_page.hpp"
#include "review/sheet_outlines.hpp"
#include "support/process.hpp"
#include "support/review/sample_batch.hpp"
#include "support/temp_dir.hpp"

namespace georef::review {
namespace {

using devtools::BrowserOptions;
using devtools::BrowserUnavailable;
using devtools::HeadlessBrowser;
using devtools::PageLoad;
using devtools::WriteScreenshot;

namespace fs = std::filesystem;
using nlohmann::json;

struct Rgb {
    int r = 0, g = 0, b = 0;
};

// Decoded RGB pixels of an image file or of image bytes, through GDAL.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    Rgb At(int x, int y) const {
        const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

Picture Decode(const std::string& path) {
    GDALAllRegister();
    Picture picture;
    GDALDatasetH d = GDALOpen(path.c_str(), GA_ReadOnly);
    if (d == nullptr) {
        return picture;
    }
    picture.width = GDALGetRasterXSize(d);
    picture.height = GDALGetRasterYSize(d);
    picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    int bands[3] = {1, 2, 3};
    if (GDALDatasetRasterIO(d, GF_Read, 0, 0, picture.width, picture.height, picture.rgb.data(), picture.width,
                            picture.height, GDT_Byte, 3, bands, 3, picture.width * 3, 1) != CE_None) {
        picture.width = picture.height = 0;
    }
    GDALClose(d);
    return picture;
}

class ReviewPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<test::TempDir>();
        s_batch = test::MakeSampleBatch(s_dir->Path(), {40571, 40572}, {40573, 40574}, {40581, 40582});
        SheetResult skipped;
        skipped.sheet = "40581";
        skipped.status = SheetStatus::skipped;
        skipped.message = "the batch stopped before this sheet";
        s_batch.sheets.push_back(skipped);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    ReviewInput Input() const {
        ReviewInput input;
        input.sheets = s_batch.sheets;
        input.configPath = s_batch.configPath;
        input.mosaicPath = s_batch.mosaicPath;
        input.outputDirectory = s_batch.directory;
        return input;
    }

    static std::unique_ptr<test::TempDir> s_dir;
    static test::SampleBatch s_batch;
};

std::unique_ptr<test::TempDir> ReviewPageTest::s_dir;
test::SampleBatch ReviewPageTest::s_batch;

TEST_F(ReviewPageTest, RefusalsLeaveTheEarlierPageAsItWas) {
    const ReviewPage page = WriteReviewPage(Input());
    const std::string before = test::ReadFileBytes(page.indexPath);
    ASSERT_FALSE(before.empty());

    ReviewInput damaged = Input();
    damaged.configPath = s_dir->File("short-config.bin");
    test::WriteFileBytes(damaged.configPath, test::ReadFileBytes(s_batch.configPath).substr(0, 30));
    EXPECT_THROW(WriteReviewPage(damaged), ReviewError);
    damaged.configPath = s_dir->File("no-such-config.bin");
    EXPECT_THROW(WriteReviewPage(damaged), ReviewError);
    ReviewInput nowhere = Input();
    nowhere.outputDirectory = s_dir->File("no-such-directory");
    EXPECT_THROW(WriteReviewPage(nowhere), ReviewError);

    EXPECT_EQ(test::ReadFileBytes(page.indexPath), before);
    for (const fs::directory_entry& e : fs::directory_iterator(s_batch.directory)) {
        EXPECT_EQ(e.path().filename().string().rfind(".review-", 0), std::string::npos) << e.path();
    }
}

TEST_F(ReviewPageTest, WithoutAMosaicThePageShowsOutlinesAndSaysWhy) {
    ReviewInput input = Input();
    input.mosaicPath = s_dir->File("missing.vrt");
    const ReviewPage page = WriteReviewPage(input);
    EXPECT_EQ(page.seams, 0);
    ASSERT_FALSE(page.warnings.empty());
    EXPECT_NE(page.warnings[0].find("missing.vrt"), std::string::npos) << page.warnings[0];
    EXPECT_FALSE(fs::exists(s_dir->File("review/overview.jpg")));
    const std::string html = test::ReadFileBytes(page.indexPath);
    EXPECT_NE(html.find("outline-40582"), std::string::npos);
}

TEST_F(ReviewPageTest, NeighboursShareTheirCornersAlongEachCommonEdge) {
    const std::vector<SheetOutline> outlines = ReadSheetOutlines(s_batch.configPath);
    const std::vector<SharedEdge> edges = FindSharedEdges(outlines);
    std::set<std::tuple<int, int, bool>> found;
    for (const SharedEdge& e : edges) {
        found.insert({e.first, e.second, e.meridian});
        // Both ends are corners of the second sheet too (within a metre).
        const SheetOutline& second = *std::find_if(outlines.begin(), outlines.end(),
                                                   [&](const SheetOutline& o) { return o.sheet == e.second; });
        for (const transform::OutputPoint& end : {e.from, e.to}) {
            double nearest = 1e9;
            for (const transform::OutputPoint& c : *second.corners) {
                nearest = std::min(nearest, std::hypot(c.X - end.X, c.Y - end.Y));
            }
            EXPECT_LT(nearest, 1.0) << e.first << " | " << e.second;
        }
    }
    const std::set<std::tuple<int, int, bool>> expected = {{40571, 40572, true},  {40571, 40573, false},
                                                           {40572, 40574, false}, {40573, 40574, true},
                                                           {40572, 40581, true},  {40581, 40582, true}};
    EXPECT_EQ(found, expected);
}

TEST_F(ReviewPageTest, SeamStripRunsAlongTheSharedNeatLines) {
    const ReviewPage page = WriteReviewPage(Input());
    // 40571 | 40572, and 40572 | 40581 (skipped: in the mosaic from an
    // earlier batch); every other pair has a sheet not in the mosaic.
    EXPECT_EQ(page.seams, 2);
    const Picture strip = Decode(s_dir->File("review/seams/40571-40572.jpg"));
    ASSERT_GT(strip.width, 4 * strip.height);
    const int middle = strip.height / 2;
    // Both sheets draw their neat line 15 m inside the shared meridian: a
    // dark band along the middle row over the whole length (averaged down
    // with the paper around it, so dark grey rather than black).
    int darkColumns = 0;
    for (int x = strip.width / 10; x < strip.width * 9 / 10; ++x) {
        for (int y = middle - 3; y <= middle + 3; ++y) {
            const Rgb c = strip.At(x, y);
            if (c.r + c.g + c.b < 3 * 140) {
                ++darkColumns;
                break;
            }
        }
    }
    EXPECT_GT(darkColumns, strip.width * 8 / 10 * 9 / 10);
    // Beside the band lies map, not white paper or a gap.
    const Rgb above = strip.At(strip.width / 2, middle / 2);
    EXPECT_LT(above.r + above.g + above.b, 3 * 250);
}

TEST(HeadlessBrowserTest, ABrowserThatCannotStartIsReportedAsUnavailable) {
    BrowserOptions options;
    options.executable = "/nonexistent/chromium";
    EXPECT_THROW(HeadlessBrowser{options}, BrowserUnavailable);
    test::TempDir dir;
    EXPECT_THROW(WriteScreenshot(dir.File("missing.html"), dir.File("shot.png")), std::runtime_error);
    EXPECT_FALSE(fs::exists(dir.File("shot.png")));
}

// Colours as the browser computed them, "rgb(r, g, b)" or "rgba(r, g, b, a)".
Rgb ParseColour(const std::string& css) {
    Rgb c;
    std::sscanf(css.c_str() + css.find('(') + 1, "%d, %d, %d", &c.r, &c.g, &c.b);
    return c;
}

// What the page looks like once rendered, read in the page by a script.
const char* const kObserve = R"JS((async () => {
  const map = document.getElementById('overview');
  map.scrollIntoView();
  await new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
  const outlines = Array.from(document.querySelectorAll('#overview polygon')).map(p => {
    const box = p.getBoundingClientRect();
    const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
    const style = getComputedStyle(p);
    return { sheet: p.id.replace('outline-', ''), fill: style.fill, stroke: style.stroke,
             status: p.getAttribute('class'), width: box.width, height: box.height,
             onTop: hit !== null && hit.closest('a') === p.closest('a') };
  });
  const rows = Array.from(document.querySelectorAll('#sheets tbody tr')).map(r =>
    ({ sheet: r.cells[0].textContent, status: r.cells[1].textContent, message: r.cells[2].textContent,
       shown: r.getBoundingClientRect().height > 0 }));
  const images = Array.from(document.images).map(i =>
    ({ src: i.getAttribute('src'), complete: i.complete, width: i.naturalWidth, height: i.naturalHeight,
       shownWidth: i.getBoundingClientRect().width }));
  const overviewBox = map.getBoundingClientRect();
  return { outlines, rows, images, mapWidth: overviewBox.width, mapHeight: overviewBox.height };
})())JS";

const char* const kClickOutlineThenSort = R"JS((async () => {
  document.querySelector('#outline-40572').closest('a').dispatchEvent(new MouseEvent('click', {bubbles: true}));
  await new Promise(done => setTimeout(done, 100));
  const row = document.getElementById('sheet-40572').getBoundingClientRect();
  const jumped = { hash: location.hash, rowInView: row.top >= 0 && row.bottom <= innerHeight };
  document.querySelector('#sheets thead th').click();
  const ascending = Array.from(document.querySelectorAll('#sheets tbody tr')).map(r => r.cells[0].textContent);
  document.querySelector('#sheets thead th').click();
  const descending = Array.from(document.querySelectorAll('#sheets tbody tr')).map(r => r.cells[0].textContent);
  return { jumped, ascending, descending };
})())JS";

TEST_F(ReviewPageTest, RenderedInChromiumShowsEveryImageStatusAndFailureFirst) {
    const ReviewPage page = WriteReviewPage(Input());
    std::unique_ptr<HeadlessBrowser> browser;
    try {
        browser = std::make_unique<HeadlessBrowser>();
    } catch (const BrowserUnavailable& e) {
        GTEST_SKIP() << "Chromium cannot start here, the page is not looked at: " << e.what();
    }
    const PageLoad load = browser->Open(page.indexPath);
    EXPECT_GT(load.loadMs, 0.0);
    browser->LoadImages(1000000);
    const json seen = browser->Evaluate(kObserve);

    // Every image: the overview, the two seams and the corner pictures.
    ASSERT_EQ(seen["images"].size(), 1u + 2u + 2u) << seen["images"].dump(1);
    for (const json& image : seen["images"]) {
        EXPECT_TRUE(image["complete"].get<bool>()) << image.dump();
        EXPECT_GT(image["width"].get<int>(), 0) << image.dump();
        EXPECT_GT(image["height"].get<int>(), 0) << image.dump();
        EXPECT_GT(image["shownWidth"].get<double>(), 0.0) << image.dump();
    }

    // Each outline is drawn, on top, in its status's colour: the statuses
    // differ, and each colour reads as what it means.
    ASSERT_EQ(seen["outlines"].size(), 6u);
    std::map<std::string, std::string> fillOf;
    for (const json& o : seen["outlines"]) {
        EXPECT_TRUE(o["onTop"].get<bool>()) << o.dump();
        EXPECT_GT(o["width"].get<double>(), 20.0) << o.dump();
        const std::string status = o["status"];
        EXPECT_TRUE(fillOf.emplace(status, o["fill"]).second || fillOf[status] == o["fill"]) << o.dump();
        const Rgb c = ParseColour(o["stroke"]);
        if (status == "s-done") {
            EXPECT_TRUE(c.g > c.r && c.g > c.b) << o.dump();
        } else if (status == "s-failed") {
            EXPECT_TRUE(c.r > 2 * c.g && c.r > 2 * c.b) << o.dump();
        } else if (status == "s-skipped") {
            EXPECT_TRUE(c.r > c.g && c.g > c.b) << o.dump();
        } else {
            EXPECT_TRUE(c.r == c.g && c.g == c.b) << o.dump();
        }
    }
    EXPECT_EQ(fillOf.size(), 4u);
    std::set<std::string> fills;
    for (const auto& [status, fill] : fillOf) {
        fills.insert(fill);
    }
    EXPECT_EQ(fills.size(), 4u);

    // The failing sheets come first, with georef's own messages (its
    // Windows-1250 text shown in its letters).
    ASSERT_EQ(seen["rows"].size(), 6u);
    const json& first = seen["rows"][0];
    EXPECT_EQ(first["sheet"], "40573");
    EXPECT_EQ(first["status"], "failed");
    EXPECT_NE(first["message"].get<std::string>().find("chybny soubor s rohy mapoveho listu"), std::string::npos)
        << first.dump();
    EXPECT_EQ(seen["rows"][1]["status"], "failed");
    EXPECT_NE(seen["rows"][1]["message"].get<std::string>().find("chyba nelze otev\u0159\u00edt corners-40574.txt"),
              std::string::npos)
        << seen["rows"][1].dump();
    EXPECT_EQ(seen["rows"][2]["status"], "skipped");

    // A click on a sheet shows its row; a click on a column head sorts.
    const json acted = browser->Evaluate(kClickOutlineThenSort);
    EXPECT_EQ(acted["jumped"]["hash"], "#sheet-40572");
    EXPECT_TRUE(acted["jumped"]["rowInView"].get<bool>());
    EXPECT_EQ(acted["ascending"], json({"40571", "40572", "40573", "40574", "40581", "40582"}));
    EXPECT_EQ(acted["descending"], json({"40582", "40581", "40574", "40573", "40572", "40571"}));

    // A screenshot shows a page, not a blank: many colours, the map's among them.
    const std::string shotPath = s_dir->File("review.png");
    const test::ProcessResult usage = test::RunProcess(GEOREF_SCREENSHOT_EXE, {page.indexPath}, s_dir->Path());
    EXPECT_EQ(usage.exitStatus, 2);
    const test::ProcessResult missing =
        test::RunProcess(GEOREF_SCREENSHOT_EXE, {"no-such-page.html", shotPath}, s_dir->Path());
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("no-such-page.html"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(shotPath));
    const test::ProcessResult shotRun =
        test::RunProcess(GEOREF_SCREENSHOT_EXE, {page.indexPath, shotPath}, s_dir->Path());
    ASSERT_EQ(shotRun.exitStatus, 0) << shotRun.err;
    const Picture shot = Decode(shotPath);
    ASSERT_GT(shot.width, 0);
    std::set<int> colours;
    int reddish = 0;
    for (int y = 0; y < shot.height; y += 2) {
        for (int x = 0; x < shot.width; x += 2) {
            const Rgb c = shot.At(x, y);
            colours.insert((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
            reddish += c.r > c.g + 60 && c.r > c.b + 60;
        }
    }
    EXPECT_GT(colours.size(), 200u);
    EXPECT_GT(reddish, 100);  // the failed sheet's outline and fill
}

// The seams as a person sees them on the overview and in the list.
const char* const kObserveSeams = R"JS((async () => {
  const map = document.getElementById('overview');
  map.scrollIntoView();
  await new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
  const lines = Array.from(document.querySelectorAll('#overview line.seam')).map(l => {
    const box = l.getBoundingClientRect();
    const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
    const style = getComputedStyle(l);
    return { seam: l.closest('a').getAttribute('href'), stroke: style.stroke, dashes: style.strokeDasharray,
             width: parseFloat(style.strokeWidth), length: Math.hypot(box.width, box.height),
             onTop: hit !== null && hit.closest('a') === l.closest('a'),
             title: l.querySelector('title').textContent };
  });
  const list = Array.from(document.querySelectorAll('.seams figure')).map(f => {
    const caption = f.querySelector('figcaption');
    const style = getComputedStyle(caption);
    return { id: f.id, color: style.color, weight: style.fontWeight, caption: caption.textContent,
             shown: f.getBoundingClientRect().height > 0 };
  });
  return { lines, list };
})())JS";

TEST_F(ReviewPageTest, RenderedInChromiumColoursEachSeamByItsOffsetAndListsTheSuspectFirst) {
    ReviewInput input = Input();
    const std::vector<SharedEdge> edges = FindSharedEdges(ReadSheetOutlines(s_batch.configPath));
    ASSERT_GE(edges.size(), 4u);
    // Figures for four edges: a close seam, one near the threshold, one
    // suspect, one unmeasured. The one seam strip of two done sheets
    // (40571 | 40572) is given as suspect, the other done pair as close.
    const auto figures = [](const SharedEdge& e, std::optional<double> along, const std::string& status) {
        SeamFigures f;
        f.first = e.first;
        f.second = e.second;
        f.alongMetres = along;
        f.acrossMetres = along ? std::optional<double>(0.5) : std::nullopt;
        f.features = along ? 12 : 0;
        f.status = status;
        return f;
    };
    std::map<std::string, std::string> expected;  // "#seam-A-B" -> what it shows
    int given = 0;
    for (const SharedEdge& e : edges) {
        const std::string id = "#seam-" + std::to_string(e.first) + "-" + std::to_string(e.second);
        const bool strip = e.first == 40571 && e.second == 40572;
        const std::string kind = strip ? "suspect" : given == 0 ? "close" : given == 1 ? "near" : given == 2 ? "unmeasured" : "";
        if (kind.empty()) {
            continue;
        }
        given += strip ? 0 : 1;
        expected[id] = kind;
        if (kind == "suspect") {
            input.seams.push_back(figures(e, 61.0, "suspect"));
        } else if (kind == "close") {
            input.seams.push_back(figures(e, 1.0, "ok"));
        } else if (kind == "near") {
            input.seams.push_back(figures(e, 22.0, "ok"));
        } else {
            input.seams.push_back(figures(e, std::nullopt, "unmeasured"));
        }
    }
    ASSERT_EQ(expected.size(), 4u);
    const ReviewPage page = WriteReviewPage(input);
    std::unique_ptr<HeadlessBrowser> browser;
    try {
        browser = std::make_unique<HeadlessBrowser>();
    } catch (const BrowserUnavailable& e) {
        GTEST_SKIP() << "Chromium cannot start here, the page is not looked at: " << e.what();
    }
    browser->Open(page.indexPath);
    const json seen = browser->Evaluate(kObserveSeams);

    // Each seam with figures is a line along the edge, on top of the
    // outlines, wide enough to see, its figures in its tooltip.
    ASSERT_EQ(seen["lines"].size(), 4u) << seen.dump(1);
    std::map<std::string, Rgb> colourOf;
    for (const json& line : seen["lines"]) {
        const std::string kind = expected.at(line["seam"]);
        EXPECT_TRUE(line["onTop"].get<bool>()) << line.dump();
        EXPECT_GT(line["length"].get<double>(), 50.0) << line.dump();
        EXPECT_GE(line["width"].get<double>(), 4.0) << line.dump();
        const Rgb c = ParseColour(line["stroke"]);
        colourOf[kind] = c;
        const std::string title = line["title"];
        if (kind == "unmeasured") {
            EXPECT_TRUE(c.r == c.g && c.g == c.b) << line.dump();  // grey
            EXPECT_NE(line["dashes"], "none") << line.dump();      // and dashed
            EXPECT_NE(title.find("too few lines cross it"), std::string::npos) << title;
        } else {
            EXPECT_EQ(line["dashes"], "none") << line.dump();
            EXPECT_NE(title.find("12 lines"), std::string::npos) << title;
        }
    }
    const Rgb close = colourOf.at("close"), near = colourOf.at("near"), suspect = colourOf.at("suspect");
    EXPECT_TRUE(close.g > close.r && close.g > close.b) << "close seam green";
    EXPECT_TRUE(near.r > near.g && near.g > near.b) << "a seam near the threshold orange";
    EXPECT_TRUE(suspect.r > 2 * suspect.g && suspect.r > 2 * suspect.b) << "a suspect seam red";
    EXPECT_GT(near.r - close.r, 100) << "the colour follows the offset";

    // The list of seam strips: the suspect one first, its caption in red
    // and bold with its figures.
    ASSERT_GE(seen["list"].size(), 2u) << seen.dump(1);
    const json& top = seen["list"][0];
    EXPECT_EQ(top["id"], "seam-40571-40572") << seen["list"].dump(1);
    EXPECT_TRUE(top["shown"].get<bool>());
    const Rgb caption = ParseColour(top["color"]);
    EXPECT_TRUE(caption.r > 2 * caption.g && caption.r > 2 * caption.b) << top.dump();
    EXPECT_GE(std::stoi(top["weight"].get<std::string>()), 700) << top.dump();
    EXPECT_NE(top["caption"].get<std::string>().find("suspect: 61.0 m along, 0.5 m across, 12 lines"), std::string::npos)
        << top.dump();
    for (std::size_t k = 1; k < seen["list"].size(); ++k) {
        EXPECT_EQ(ParseColour(seen["list"][k]["color"]).r, ParseColour(seen["list"][k]["color"]).g)
            << seen["list"][k].dump();  // the others in the page's grey
    }
}

}  // namespace
}  // namespace georef::review
