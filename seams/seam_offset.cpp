#include "seams/seam_offset.hpp"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

namespace georef::seams {

namespace {

// Lines whose slopes spread less than this give no offset across.
constexpr double kLeastSlopeSpread = 0.2;
// RMS of both sides' centres about one line broken at the edge, columns.
constexpr double kWorstJoint = 0.8;
// Lines fitting the offset within this many columns are always kept.
constexpr double kLeastTrim = 0.5;
// The offset across is given only when its standard error is within this
// many columns.
constexpr double kWorstAcrossError = 0.35;

struct Candidate {
    int first = 0;
    int second = 0;
    double shift = 0.0;  // column on the second side less column on the first
    double slope = 0.0;  // the two slopes' mean
};

struct Hypothesis {
    double along = 0.0;
    double across = 0.0;
};

// One candidate per line of the first side that fits the hypothesis best,
// each line of the second side used once. The buffers are kept from call
// to call: every hypothesis is tried, and allocating them each time cost
// as much as the trying.
class InlierFinder {
public:
    InlierFinder(const std::vector<Candidate>& candidates, double tolerance, std::size_t firstCount,
                 std::size_t secondCount)
        : m_candidates(candidates), m_tolerance(tolerance), m_best(firstCount), m_bestResidual(firstCount),
          m_used(secondCount) {}

    // The inliers into `inliers` (replacing what it held).
    void Find(const Hypothesis& h, std::vector<const Candidate*>& inliers) {
        std::fill(m_best.begin(), m_best.end(), nullptr);
        std::fill(m_bestResidual.begin(), m_bestResidual.end(), INFINITY);
        for (const Candidate& c : m_candidates) {
            const double residual = std::fabs(c.shift - (h.along - c.slope * h.across));
            if (residual <= m_tolerance && residual < m_bestResidual[c.first]) {
                m_best[c.first] = &c;
                m_bestResidual[c.first] = residual;
            }
        }
        std::fill(m_used.begin(), m_used.end(), false);
        inliers.clear();
        for (const Candidate* c : m_best) {
            if (c != nullptr && !m_used[c->second]) {
                m_used[c->second] = true;
                inliers.push_back(c);
            }
        }
    }

    std::vector<const Candidate*> Find(const Hypothesis& h) {
        std::vector<const Candidate*> inliers;
        Find(h, inliers);
        return inliers;
    }

private:
    const std::vector<Candidate>& m_candidates;
    double m_tolerance;
    std::vector<const Candidate*> m_best;
    std::vector<double> m_bestResidual;
    std::vector<char> m_used;
};

double SlopeSpread(const std::vector<const Candidate*>& inliers) {
    double mean = 0.0;
    for (const Candidate* c : inliers) {
        mean += c->slope;
    }
    mean /= inliers.size();
    double squares = 0.0;
    for (const Candidate* c : inliers) {
        squares += (c->slope - mean) * (c->slope - mean);
    }
    return std::sqrt(squares / inliers.size());
}

// One line through both sides' centres with a break at the edge: column =
// c + q s + k s^2 + j s^3 + shift on the second side (roads and contours
// bend within the band). False when it does not fit
// (two different lines) or the rows do not determine it.
bool JointBreak(const CrossingLine& first, const CrossingLine& second, double& shift, double& slope) {
    cv::Matx<double, 5, 5> normal = cv::Matx<double, 5, 5>::zeros();
    cv::Vec<double, 5> right(0.0, 0.0, 0.0, 0.0, 0.0);
    const auto add = [&](const std::vector<std::pair<double, double>>& centres, double side) {
        for (const auto& [s, x] : centres) {
            const cv::Vec<double, 5> basis(1.0, s, s * s, s * s * s, side);
            normal += basis * basis.t();
            right += basis * x;
        }
    };
    add(first.centres, 0.0);
    add(second.centres, 1.0);
    cv::Vec<double, 5> c;
    if (!cv::solve(normal, right, c, cv::DECOMP_CHOLESKY)) {
        return false;
    }
    double squares = 0.0;
    std::size_t count = 0;
    for (const auto* centres : {&first.centres, &second.centres}) {
        const double side = centres == &first.centres ? 0.0 : 1.0;
        for (const auto& [s, x] : *centres) {
            const double r = x - (c[0] + c[1] * s + c[2] * s * s + c[3] * s * s * s + c[4] * side);
            squares += r * r;
            ++count;
        }
    }
    shift = c[4];
    slope = c[1];
    return count > 0 && std::sqrt(squares / count) <= kWorstJoint;
}

struct Fit {
    Hypothesis offset;
    bool bothWays = false;      // the slopes spread enough to give the offset across
    double acrossError = 0.0;   // its standard error, columns
};

// shift = along - slope * across by least squares; along alone (across 0)
// when the slopes hardly differ.
Fit FitOffset(const std::vector<const Candidate*>& inliers) {
    Fit fit;
    double n = 0.0, sq = 0.0, sqq = 0.0, sd = 0.0, sqd = 0.0;
    for (const Candidate* c : inliers) {
        n += 1.0, sq += c->slope, sqq += c->slope * c->slope, sd += c->shift, sqd += c->slope * c->shift;
    }
    fit.bothWays = inliers.size() >= 3 && SlopeSpread(inliers) >= kLeastSlopeSpread;
    if (!fit.bothWays) {
        fit.offset.along = sd / n;
        return fit;
    }
    const double det = n * sqq - sq * sq;
    fit.offset.across = -(n * sqd - sq * sd) / det;
    fit.offset.along = (sd + fit.offset.across * sq) / n;
    double squares = 0.0;
    for (const Candidate* c : inliers) {
        const double r = c->shift - (fit.offset.along - c->slope * fit.offset.across);
        squares += r * r;
    }
    // At least the spread a line's position has at best (a tenth of a
    // column), so that a few lines that happen to agree exactly do not claim more.
    const double sigma = std::max(0.1, std::sqrt(squares / std::max(1.0, n - 2.0)));
    fit.acrossError = sigma * std::sqrt(n / det);
    return fit;
}

}  // namespace

SeamOffset MatchCrossings(const std::vector<CrossingLine>& first, const std::vector<CrossingLine>& second,
                          const MatchOptions& options) {
    SeamOffset result;
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < first.size(); ++i) {
        for (std::size_t j = 0; j < second.size(); ++j) {
            double shift = second[j].column - first[i].column;
            double slope = 0.0;
            if (std::fabs(shift) <= options.searchPixels &&
                std::fabs(second[j].slope - first[i].slope) <= options.slopeTolerance &&
                JointBreak(first[i], second[j], shift, slope)) {
                candidates.push_back({static_cast<int>(i), static_cast<int>(j), shift, slope});
            }
        }
    }
    if (candidates.empty()) {
        return result;
    }
    // Every offset two candidates at different angles fix, and every shift
    // one candidate gives with nothing across: the one most lines agree with.
    std::vector<Hypothesis> hypotheses;
    for (std::size_t a = 0; a < candidates.size(); ++a) {
        hypotheses.push_back({candidates[a].shift, 0.0});
        for (std::size_t b = a + 1; b < candidates.size(); ++b) {
            const Candidate& p = candidates[a];
            const Candidate& q = candidates[b];
            if (p.first == q.first || p.second == q.second || std::fabs(p.slope - q.slope) < 0.3) {
                continue;
            }
            const double across = (p.shift - q.shift) / (q.slope - p.slope);
            if (std::fabs(across) <= options.searchPixels) {
                hypotheses.push_back({p.shift + p.slope * across, across});
            }
        }
    }
    InlierFinder finder(candidates, options.tolerancePixels, first.size(), second.size());
    std::vector<const Candidate*> inliers;
    std::vector<const Candidate*> agree;
    for (const Hypothesis& h : hypotheses) {
        finder.Find(h, agree);
        if (agree.size() > inliers.size()) {
            inliers.swap(agree);
        }
    }
    if (inliers.empty()) {
        return result;
    }
    // Least squares over the lines that agree; again over those that agree
    // with that; and last without the lines that fit it worst (beyond three
    // robust deviations), whose one bad end would tilt the offset across.
    for (int pass = 0; pass < 3; ++pass) {
        const Fit fit = FitOffset(inliers);
        if (pass == 0) {
            std::vector<const Candidate*> refit = finder.Find(fit.offset);
            if (refit.size() >= inliers.size()) {
                inliers = std::move(refit);
            }
        } else if (pass == 1) {
            std::vector<double> residuals;
            for (const Candidate* c : inliers) {
                residuals.push_back(std::fabs(c->shift - (fit.offset.along - c->slope * fit.offset.across)));
            }
            std::vector<double> sorted = residuals;
            std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
            const double limit = std::max(kLeastTrim, 3.0 * 1.4826 * sorted[sorted.size() / 2]);
            std::vector<const Candidate*> kept;
            for (std::size_t k = 0; k < inliers.size(); ++k) {
                if (residuals[k] <= limit) {
                    kept.push_back(inliers[k]);
                }
            }
            inliers = std::move(kept);
        } else {
            result.along = fit.offset.along;
            result.across.reset();
            if (fit.bothWays && fit.acrossError <= kWorstAcrossError) {
                result.across = fit.offset.across;
            }
            result.features = static_cast<int>(inliers.size());
        }
    }
    const double fewer = static_cast<double>(std::min(first.size(), second.size()));
    result.consistent = result.features >= options.leastFeatures && result.features >= options.leastShare * fewer;
    return result;
}

}  // namespace georef::seams
