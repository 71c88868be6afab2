// Where a profile comes back from ink to paper: the outer edge of a band
// however wide, placed where the profile crosses half-way; never at an edge
// from paper into ink (a dark scanner bed beyond the paper), nor in grain.

#include <gtest/gtest.h>

#include <vector>

#include "corners/frame_edge.hpp"

namespace georef::corners {
namespace {

TEST(PaperRises, NoneWhereThePaperOnlyFallsIntoInkOrVariesLessThanTheDepth) {
    std::vector<float> falling(40, 220.0f);
    for (std::size_t i = 20; i < falling.size(); ++i) {
        falling[i] = 30.0f;
    }
    EXPECT_TRUE(PaperRises(falling, 50.0).empty());
    std::vector<float> grain(40, 220.0f);
    for (std::size_t i = 0; i < grain.size(); i += 2) {
        grain[i] = 200.0f;
    }
    EXPECT_TRUE(PaperRises(grain, 50.0).empty());
}

TEST(PaperRises, TheOuterEdgeOfABandOfAnyWidth) {
    // Paper 220, a band of ink 30 from index 10 to 23 (a frame merged with
    // filled minutes), its outer edge over one pixel at 24 (125, half-way);
    // then a thin line at 30 whose outer edge lies at 31.
    std::vector<float> p(40, 220.0f);
    for (int i = 10; i < 24; ++i) {
        p[static_cast<std::size_t>(i)] = 30.0f;
    }
    p[24] = 125.0f;
    p[30] = 30.0f;
    const std::vector<double> rises = PaperRises(p, 50.0);
    ASSERT_EQ(rises.size(), 2u);
    EXPECT_NEAR(rises[0], 24.0, 1e-9);
    EXPECT_NEAR(rises[1], 30.5, 1e-9);
}

}  // namespace
}  // namespace georef::corners
