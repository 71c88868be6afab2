// The dark lines a profile across a side crosses: edges to a fraction of a
// pixel, the outer edge only where the paper comes back, faint dips and
// lines outside the search left out.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "corners/line_profile.hpp"

namespace georef::corners {
namespace {

constexpr float kPaper = 200.0f;

// A profile of paper with dark bands; pixel i samples [i - 0.5, i + 0.5).
struct Band {
    double from;
    double to;
    float ink;
};

std::vector<float> Profile(int length, const std::vector<Band>& bands) {
    std::vector<float> profile(static_cast<std::size_t>(length), kPaper);
    for (int i = 0; i < length; ++i) {
        for (const Band& b : bands) {
            const double overlap = std::max(0.0, std::min(i + 0.5, b.to) - std::max(i - 0.5, b.from));
            profile[static_cast<std::size_t>(i)] -= static_cast<float>(overlap * (kPaper - b.ink));
        }
    }
    return profile;
}

TEST(LineProfileTest, MeasuresTheNeatLineAndTheRoadBesideIt) {
    // A line 2.8 px wide, then a lighter road 2 px wide further out.
    const std::vector<float> profile = Profile(60, {{20.3, 23.1, 40.0f}, {34.5, 36.5, 100.0f}});
    const std::vector<LineCrossing> found = FindLineCrossings(profile, 18, 10, 20, 6, 30.0);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NEAR(found[0].innerEdge, 20.3, 0.1);
    ASSERT_TRUE(found[0].outerEdge);
    EXPECT_NEAR(*found[0].outerEdge, 23.1, 0.1);
    EXPECT_NEAR(found[0].paper, kPaper, 1e-3);
    // Darkness over depth is the drawn width (to the edges' interpolation).
    EXPECT_NEAR(found[0].area / (kPaper - 40.0), 2.8, 0.15);
    EXPECT_NEAR(found[1].innerEdge, 34.5, 0.1);
}

// The same bands seen through a Gaussian blur of sigma pixels.
std::vector<float> BlurredProfile(int length, const std::vector<Band>& bands, double sigma) {
    const auto below = [sigma](double x) { return 0.5 * std::erfc(-x / (sigma * std::sqrt(2.0))); };
    std::vector<float> profile(static_cast<std::size_t>(length), kPaper);
    for (int i = 0; i < length; ++i) {
        for (const Band& b : bands) {
            double cover = 0.0;
            for (int k = 0; k < 20; ++k) {
                const double x = i - 0.5 + (k + 0.5) / 20.0;
                cover += (below(x - b.from) - below(x - b.to)) / 20.0;
            }
            profile[static_cast<std::size_t>(i)] -= static_cast<float>(cover * (kPaper - b.ink));
        }
    }
    return profile;
}

TEST(LineProfileTest, ABlurredThinLineKeepsItsDrawnWidthWithTheBorderCloseOutside) {
    // A line 1 px wide at 150 dpi seen through a blur of 1.4 px, a filled
    // border 6 px further out: its edges lie 1.5 px either side of its
    // centre, and the border's blur reaches the paper between them.
    const std::vector<float> profile = BlurredProfile(60, {{19.5, 20.5, 40.0f}, {26.5, 60.0, 40.0f}}, 1.4);
    const std::vector<LineCrossing> found = FindLineCrossings(profile, 18, 10, 10, 4, 30.0);
    ASSERT_FALSE(found.empty());
    ASSERT_TRUE(found[0].outerEdge);
    EXPECT_NEAR(0.5 * (found[0].innerEdge + *found[0].outerEdge), 20.0, 0.1);
    EXPECT_GT(*found[0].outerEdge - found[0].innerEdge, 2.5);
    EXPECT_NEAR(found[0].paper, kPaper, 1.0);
    EXPECT_NEAR(found[0].area / (found[0].paper - 40.0), 1.0, 0.15);
}

TEST(LineProfileTest, AFilledBorderHasNoOuterEdgeAndFaintOrFarDipsAreNoLines) {
    // Ink from 20.5 to the profile's end: a filled border beyond the line.
    const std::vector<LineCrossing> filled = FindLineCrossings(Profile(40, {{20.5, 60.0, 40.0f}}), 18, 10, 10, 6, 30.0);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_NEAR(filled[0].innerEdge, 20.5, 0.1);
    EXPECT_FALSE(filled[0].outerEdge);
    EXPECT_EQ(filled[0].area, 0.0);

    // A dip of 20 grey levels against a least depth of 30.
    EXPECT_TRUE(FindLineCrossings(Profile(40, {{20.5, 22.5, 180.0f}}), 18, 10, 10, 6, 30.0).empty());
    // A line beyond the reach of the search outward.
    EXPECT_TRUE(FindLineCrossings(Profile(60, {{40.5, 42.5, 40.0f}}), 18, 10, 10, 6, 30.0).empty());
}

TEST(LineProfileTest, SolidInkRunningOnInwardGivesNoInnerEdge) {
    // A dark patch pressed against the line from the map's side: ink up to
    // index 15, a hair lighter (one step of a float) before index 10. The
    // fall into it is too small to place an edge between; its inner edge
    // once came out as not-a-number and spoilt every line of its stretch.
    const float ink = 32.0f;
    std::vector<float> profile(40, kPaper);
    for (std::size_t i = 0; i < 15; ++i) {
        profile[i] = i < 10 ? std::nextafter(ink, kPaper) : ink;
    }
    for (const LineCrossing& line : FindLineCrossings(profile, 10, 8, 10, 6, 30.0)) {
        EXPECT_TRUE(std::isfinite(line.innerEdge));
        EXPECT_GT(line.innerEdge, 12.0);
    }
}

}  // namespace
}  // namespace georef::corners
