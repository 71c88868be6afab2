#include "corners/line_fit.hpp"

#include <algorithm>
#include <cmath>

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

std::vector<CentrePoint> Consensus(const std::vector<CentrePoint>& points) {
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
    // A line gains at most one supporter from each run of points of one
    // profile: runsFrom[k] bounds what points k.. can still add, so a line
    // that can no longer beat the best one is left early.
    std::vector<int> runsFrom(points.size() + 1, 0);
    for (std::size_t k = points.size(); k-- > 0;) {
        runsFrom[k] = runsFrom[k + 1] + (k + 1 == points.size() || points[k + 1].profile != points[k].profile);
    }
    int bestSupport = -1;
    SideLine best;
    for (const CentrePoint* a : early) {
        for (const CentrePoint* b : late) {
            if (!(b->along - a->along > 0.5 * third)) {
                continue;
            }
            const double slope = (b->across - a->across) / (b->along - a->along);
            const SideLine line{a->across - slope * a->along, slope};
            int support = 0;
            int last = -1;
            for (std::size_t k = 0; k < points.size() && support + runsFrom[k] > bestSupport; ++k) {
                const CentrePoint& p = points[k];
                if (p.profile != last && std::fabs(p.across - line.Across(p.along)) <= kSupportDistance) {
                    ++support;
                    last = p.profile;
                }
            }
            if (support > bestSupport) {
                bestSupport = support;
                best = line;
            }
        }
    }
    if (bestSupport < 0) {
        return points;
    }
    std::vector<CentrePoint> kept;
    for (const CentrePoint& p : points) {
        const double off = std::fabs(p.across - best.Across(p.along));
        if (off > kSupportDistance) {
            continue;
        }
        if (!kept.empty() && kept.back().profile == p.profile) {
            if (off < std::fabs(kept.back().across - best.Across(kept.back().along))) {
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
