#include "corners/line_fit.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace georef::corners {

std::optional<LineFit> FitRobustly(const std::vector<CentrePoint>& points) {
    if (points.size() < 2) {
        return std::nullopt;
    }
    std::vector<char> use(points.size(), 1);
    LineFit fit;
    for (int round = 0; round < 4; ++round) {
        double n = 0.0, sa = 0.0, sc = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (use[k]) {
                n += 1.0;
                sa += points[k].along;
                sc += points[k].across;
            }
        }
        if (n < 2.0) {
            return std::nullopt;
        }
        const double ma = sa / n;
        const double mc = sc / n;
        double saa = 0.0, sac = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (use[k]) {
                const double da = points[k].along - ma;
                saa += da * da;
                sac += da * (points[k].across - mc);
            }
        }
        if (!(saa > 0.0)) {
            return std::nullopt;
        }
        const double b = sac / saa;
        fit.line = {mc - b * ma, b};
        std::vector<double> residual(points.size());
        std::vector<double> magnitude;
        for (std::size_t k = 0; k < points.size(); ++k) {
            residual[k] = points[k].across - fit.line.Across(points[k].along);
            if (use[k]) {
                magnitude.push_back(std::fabs(residual[k]));
            }
        }
        std::nth_element(magnitude.begin(), magnitude.begin() + magnitude.size() / 2, magnitude.end());
        const double mad = magnitude[magnitude.size() / 2];
        const double limit = std::max(0.3, 3.0 * 1.4826 * mad);
        fit.used = 0;
        double sum = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            use[k] = std::fabs(residual[k]) <= limit;
            if (use[k]) {
                ++fit.used;
                sum += residual[k] * residual[k];
            }
        }
        fit.rms = fit.used > 0 ? std::sqrt(sum / fit.used) : 0.0;
    }
    return fit;
}

std::vector<CentrePoint> Consensus(const std::vector<CentrePoint>& points, int least) {
    if (points.size() < 2) {
        return points;
    }
    double lo = points.front().along, hi = points.front().along;
    for (const CentrePoint& p : points) {
        lo = std::min(lo, p.along);
        hi = std::max(hi, p.along);
    }
    const double third = (hi - lo) / 3.0;
    std::vector<const CentrePoint*> early, late;
    for (const CentrePoint& p : points) {
        (p.along <= lo + third ? early : p.along >= hi - third ? late : early).push_back(&p);
    }
    const auto thin = [](std::vector<const CentrePoint*>& v) {
        constexpr std::size_t kTried = 40;
        if (v.size() > kTried) {
            std::vector<const CentrePoint*> kept;
            for (std::size_t k = 0; k < kTried; ++k) {
                kept.push_back(v[k * v.size() / kTried]);
            }
            v.swap(kept);
        }
    };
    thin(early);
    thin(late);
    // The runs of points of one profile. In profile order each profile is
    // one run, and a line's support is the number of runs with a point
    // within kSupportDistance of it, whichever order they are looked at in.
    struct Run {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    std::vector<Run> runs;
    bool ordered = true;
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (k == 0 || points[k].profile != points[k - 1].profile) {
            ordered = ordered && (k == 0 || points[k].profile > points[k - 1].profile);
            runs.push_back({k, k + 1});
        } else {
            runs.back().end = k + 1;
        }
    }
    // The middle third first: a line through points of two different lines
    // (one at each end) passes between them there, so most lines tried that
    // are not the one taken miss there and are left soonest.
    std::vector<std::size_t> middleFirst;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const double along = points[runs[r].begin].along;
            const bool middle = along > lo + third && along < hi - third;
            if (middle == (pass == 0)) {
                middleFirst.push_back(r);
            }
        }
    }
    // A line gains at most one supporter from each run: runsFrom[k] bounds
    // what points k.. can still add (profiles out of order only).
    std::vector<int> runsFrom(points.size() + 1, 0);
    for (std::size_t k = points.size(); k-- > 0;) {
        runsFrom[k] = runsFrom[k + 1] + (k + 1 == points.size() || points[k + 1].profile != points[k].profile);
    }
    // The support of the line through a and b (empty when the pair spans
    // too little), counted only as long as it can still reach needed: a
    // count below needed only says so.
    const auto support = [&](const CentrePoint* a, const CentrePoint* b, int needed) -> std::optional<std::pair<int, SideLine>> {
        if (!(b->along - a->along > 0.5 * third)) {
            return std::nullopt;
        }
        const double slope = (b->across - a->across) / (b->along - a->along);
        const SideLine line{a->across - slope * a->along, slope};
        const auto within = [&line](const CentrePoint& p) {
            return std::fabs(p.across - line.Across(p.along)) <= kSupportDistance;
        };
        int count = 0;
        if (ordered) {
            int left = static_cast<int>(runs.size());
            for (const std::size_t r : middleFirst) {
                if (count + left < needed) {
                    break;
                }
                --left;
                for (std::size_t k = runs[r].begin; k < runs[r].end; ++k) {
                    if (within(points[k])) {
                        ++count;
                        break;
                    }
                }
            }
        } else {
            // A profile counts again after another one was counted.
            int last = -1;
            for (std::size_t k = 0; k < points.size() && count + runsFrom[k] >= needed; ++k) {
                if (points[k].profile != last && within(points[k])) {
                    ++count;
                    last = points[k].profile;
                }
            }
        }
        return std::pair<int, SideLine>{count, line};
    };
    // The line taken is the first, in the order tried below, of those with
    // the most support. A few pairs spread over both ends are tried first:
    // the best of them is a floor that the line taken reaches, so any line
    // that cannot reach it is left as early as it can be, as is any line
    // below the least support asked.
    int floor = least;
    for (std::size_t k = 0; k < std::min(early.size(), late.size()); ++k) {
        if (const auto tried = support(early[k], late[late.size() - 1 - k], floor)) {
            floor = std::max(floor, tried->first);
        }
    }
    int bestSupport = -1;
    SideLine best;
    for (const CentrePoint* a : early) {
        for (const CentrePoint* b : late) {
            const auto tried = support(a, b, std::max(floor, bestSupport + 1));
            if (tried && tried->first > bestSupport) {
                bestSupport = tried->first;
                best = tried->second;
            }
        }
    }
    if (bestSupport < 0) {
        return points;
    }
    return PointsNearLine(points, best);
}

std::vector<CentrePoint> PointsNearLine(const std::vector<CentrePoint>& points, const SideLine& line, double reach) {
    std::vector<CentrePoint> kept;
    for (const CentrePoint& p : points) {
        const double off = std::fabs(p.across - line.Across(p.along));
        if (off > reach) {
            continue;
        }
        if (!kept.empty() && kept.back().profile == p.profile) {
            if (off < std::fabs(kept.back().across - line.Across(kept.back().along))) {
                kept.back() = p;
            }
        } else {
            kept.push_back(p);
        }
    }
    return kept;
}

std::vector<CentrePoint> PointsAwayFrom(const std::vector<CentrePoint>& points, const SideLine& line) {
    std::vector<CentrePoint> away;
    for (const CentrePoint& p : points) {
        if (std::fabs(p.across - line.Across(p.along)) > 2.0 * kSupportDistance) {
            away.push_back(p);
        }
    }
    return away;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

}  // namespace georef::corners
