// The offset from lines found on both sides of an edge: lines at several
// angles give it along and across, lines at one angle along only, lines that
// do not continue give none; and seams.csv read back as written.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "seams/seam_offset.hpp"
#include "seams/seam_survey.hpp"
#include "support/temp_dir.hpp"

namespace georef::seams {
namespace {

// A straight line crossing at column x with slope q, seen on one side:
// centres on rows 3..40 away from the edge (negative rows on the first side).
CrossingLine Line(double x, double q, bool secondSide) {
    CrossingLine line;
    line.column = x;
    line.slope = q;
    line.strength = 60.0;
    for (int d = 3; d <= 40; ++d) {
        const double s = secondSide ? d : -d;
        line.centres.emplace_back(s, x + q * s);
    }
    return line;
}

// The same lines on both sides, the second side's content moved by (along,
// across) strip pixels: x' = x + along - q across.
void Pair(double along, double across, std::vector<CrossingLine>& first, std::vector<CrossingLine>& second,
          const std::vector<std::pair<double, double>>& lines) {
    for (const auto& [x, q] : lines) {
        first.push_back(Line(x, q, false));
        second.push_back(Line(x + along - q * across, q, true));
    }
}

const std::vector<std::pair<double, double>> kVariedLines = {
    {100.0, 0.0}, {260.0, 0.6}, {410.0, -0.8}, {700.0, 0.3}, {940.0, -0.4}, {1200.0, 1.2}, {1500.0, -1.5}};

TEST(MatchCrossings, LinesAtSeveralAnglesGiveAlongAndAcross) {
    for (const auto& [along, across] : {std::pair{0.0, 0.0}, std::pair{5.0, 0.0}, std::pair{-3.25, 7.5},
                                        std::pair{12.0, -9.0}}) {
        std::vector<CrossingLine> first, second;
        Pair(along, across, first, second, kVariedLines);
        const SeamOffset offset = MatchCrossings(first, second, MatchOptions{});
        ASSERT_TRUE(offset.consistent) << along << " " << across;
        ASSERT_TRUE(offset.along && offset.across);
        EXPECT_NEAR(*offset.along, along, 1e-6);
        EXPECT_NEAR(*offset.across, across, 1e-6);
        EXPECT_EQ(offset.features, static_cast<int>(kVariedLines.size()));
    }
}

TEST(MatchCrossings, LinesAtOneAngleGiveAlongOnly) {
    std::vector<CrossingLine> first, second;
    Pair(4.0, 0.0, first, second, {{100.0, 0.05}, {300.0, 0.0}, {520.0, -0.05}, {800.0, 0.02}, {900.0, 0.0}});
    const SeamOffset offset = MatchCrossings(first, second, MatchOptions{});
    ASSERT_TRUE(offset.consistent && offset.along);
    EXPECT_NEAR(*offset.along, 4.0, 1e-6);
    EXPECT_FALSE(offset.across);
}

TEST(MatchCrossings, LinesThatDoNotContinueAreNotConsistent) {
    std::vector<CrossingLine> first, second;
    for (int k = 0; k < 12; ++k) {
        first.push_back(Line(100.0 + 150.0 * k, 0.1 * (k % 7) - 0.3, false));
        second.push_back(Line(170.0 + 150.0 * k + 9.0 * (k % 3), -0.2 * (k % 5) + 0.4, true));
    }
    EXPECT_FALSE(MatchCrossings(first, second, MatchOptions{}).consistent);
    EXPECT_FALSE(MatchCrossings(first, {}, MatchOptions{}).consistent);
}

TEST(MatchCrossings, AFewLinesThatBreakDoNotMoveTheOffset) {
    std::vector<CrossingLine> first, second;
    Pair(2.0, -3.0, first, second, kVariedLines);
    // A line on each side that has no partner, and one whose partner lies far off.
    first.push_back(Line(1800.0, 0.2, false));
    second.push_back(Line(1650.0, -0.7, true));
    first.push_back(Line(2000.0, 0.5, false));
    second.push_back(Line(2011.0, 0.5, true));
    const SeamOffset offset = MatchCrossings(first, second, MatchOptions{});
    ASSERT_TRUE(offset.consistent && offset.along && offset.across);
    EXPECT_NEAR(*offset.along, 2.0, 1e-6);
    EXPECT_NEAR(*offset.across, -3.0, 1e-6);
    EXPECT_EQ(offset.features, static_cast<int>(kVariedLines.size()));
}

SeamMeasurement Seam(int sheet, int neighbour, SeamStatus status, std::optional<double> along,
                     std::optional<double> across) {
    SeamMeasurement s;
    s.sheet = sheet;
    s.neighbour = neighbour;
    s.meridian = neighbour == sheet + 1;
    s.lengthMetres = 13900.0;
    s.alongMetres = along;
    s.acrossMetres = across;
    s.features = along ? 9 : 0;
    s.status = status;
    return s;
}

TEST(SeamsCsv, ReadsBackWhatItWroteSuspectFirstAndMergesByPair) {
    test::TempDir dir;
    const std::string csv = dir.File("seams.csv");
    const std::vector<SeamMeasurement> seams = {Seam(40571, 40572, SeamStatus::ok, 1.5, -0.5),
                                                Seam(40571, 40573, SeamStatus::unmeasured, {}, {}),
                                                Seam(40572, 40574, SeamStatus::suspect, 31.0, {})};
    WriteSeamsCsv(seams, csv);
    std::ifstream in(csv);
    std::string header, firstLine;
    std::getline(in, header);
    std::getline(in, firstLine);
    EXPECT_EQ(header, "sheet,neighbour,edge,length_m,along_m,across_m,features,status");
    EXPECT_EQ(firstLine, "40572,40574,south,13900,31.0,,9,suspect");
    const std::vector<SeamMeasurement> back = ReadSeamsCsv(csv);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1].sheet, 40571);
    EXPECT_EQ(back[1].neighbour, 40572);
    EXPECT_TRUE(back[1].meridian);
    EXPECT_DOUBLE_EQ(*back[1].alongMetres, 1.5);
    EXPECT_DOUBLE_EQ(*back[1].acrossMetres, -0.5);
    EXPECT_EQ(back[2].status, SeamStatus::unmeasured);
    EXPECT_FALSE(back[2].alongMetres);

    const std::vector<SeamMeasurement> merged = MergeSeams(back, {Seam(40571, 40572, SeamStatus::suspect, 40.0, 2.0)});
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged.back().status, SeamStatus::suspect);
    EXPECT_DOUBLE_EQ(*merged.back().alongMetres, 40.0);

    test::WriteFileBytes(csv, "sheet,neighbour\n1,2\n");
    EXPECT_TRUE(ReadSeamsCsv(csv).empty());
    EXPECT_TRUE(ReadSeamsCsv(dir.File("none.csv")).empty());
}

TEST(SheetVerdict, SuspectOnlyWhenEveryMeasuredSeamIs) {
    const std::vector<SeamMeasurement> seams = {Seam(40571, 40572, SeamStatus::suspect, 30.0, {}),
                                                Seam(40571, 40573, SeamStatus::unmeasured, {}, {}),
                                                Seam(40572, 40574, SeamStatus::ok, 1.0, 0.0),
                                                Seam(40573, 40574, SeamStatus::unmeasured, {}, {})};
    EXPECT_EQ(SheetVerdict(seams, 40571), "suspect");
    EXPECT_EQ(SheetVerdict(seams, 40572), "ok");
    EXPECT_EQ(SheetVerdict(seams, 40573), "unmeasured");
    EXPECT_EQ(SheetVerdict(seams, 40581), "");
}

}  // namespace
}  // namespace georef::seams
