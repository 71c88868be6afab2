#pragma once
// Where a profile across a side comes back from ink to paper, going
// outward: the outer edges of the lines it crosses, however wide. The
// border's outer frame ends every profile's border in such an edge, whether
// the frame stands alone or merges with the filled minutes inside it, so
// the outermost straight line of them along a side is the frame's outer
// edge (border_gap.hpp).

#include <vector>

namespace georef::corners {

// The rises of profile P (grey levels, index growing outward) by at least
// minDepth grey levels from the darkest of the kRiseReach pixels before a
// rise to the lightest of the kRiseReach pixels after it, each placed where
// the profile crosses the level half-way between, in index units.
std::vector<double> PaperRises(const std::vector<float>& P, double minDepth);

}  // namespace georef::corners
