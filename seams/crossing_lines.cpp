#include "seams/crossing_lines.hpp"

#include <algorithm>
#include <cmath>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace georef::seams {

namespace {

// Ink above its surroundings along the edge: lines that cross stand out,
// what runs along the edge and the tint of areas do not.
constexpr int kSurroundColumns = 31;
constexpr int kPeakSpacing = 3;      // columns between two lines found
constexpr double kRowWindow = 2.5;   // columns either side of a line's track where its centre is sought
constexpr int kPasses = 3;
constexpr double kLeastRows = 0.7;   // share of the band's rows a line must be found on
constexpr double kWorstTrack = 0.8;  // RMS of its centres about the straight piece, columns
constexpr int kSumBlock = 16;        // columns summed at once, four vectors of four

struct Band {
    std::vector<const float*> rows;  // high-passed ink, nearest the edge first
    std::vector<double> across;      // each row's distance from the edge, signed rows
};

// A straight piece fitted to the centres of a line row by row, starting from
// a guess; false when too few rows show it or it is not straight.
// Least squares column = c0 + c1 s + c2 s^2 over the centres (c2 = 0 when
// not curved); false when the rows do not determine it.
bool FitTrack(const std::vector<std::pair<double, double>>& centres, bool curved, double (&c)[3]) {
    cv::Matx33d normal = cv::Matx33d::zeros();
    cv::Vec3d right(0.0, 0.0, 0.0);
    for (const auto& [s, x] : centres) {
        const cv::Vec3d basis(1.0, s, curved ? s * s : 0.0);
        normal += basis * basis.t();
        right += basis * x;
    }
    if (!curved) {
        normal(2, 2) = 1.0;
    }
    cv::Vec3d solution;
    if (!cv::solve(normal, right, solution, cv::DECOMP_CHOLESKY)) {
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        c[k] = solution[k];
    }
    return true;
}

bool Follow(const Band& band, int columns, CrossingLine& line) {
    double track[3] = {line.column, line.slope, 0.0};
    for (int pass = 0; pass < kPasses; ++pass) {
        std::vector<std::pair<double, double>> centres;  // across, column
        for (std::size_t k = 0; k < band.rows.size(); ++k) {
            const double s = band.across[k];
            const double predicted = track[0] + track[1] * s + track[2] * s * s;
            const int from = static_cast<int>(std::ceil(predicted - kRowWindow));
            const int to = static_cast<int>(std::floor(predicted + kRowWindow));
            if (from < 1 || to >= columns - 1) {
                continue;
            }
            // The row's highest ink near the track, to a fraction of a
            // column by the parabola through it and its neighbours; none when
            // the highest lies at the window's end (the line is elsewhere).
            const float* row = band.rows[k];
            int top = from;
            for (int c = from + 1; c <= to; ++c) {
                if (row[c] > row[top]) {
                    top = c;
                }
            }
            const double left = row[top - 1], middle = row[top], right = row[top + 1];
            const double curvature = left - 2.0 * middle + right;
            if (top == from || top == to || middle <= 0.0 || !(curvature < 0.0)) {
                continue;
            }
            centres.emplace_back(s, top + 0.5 * (left - right) / curvature);
        }
        if (centres.size() < kLeastRows * band.rows.size() || centres.size() < 6) {
            return false;
        }
        if (!FitTrack(centres, pass > 0, track)) {
            return false;
        }
        if (pass == kPasses - 1) {
            double squares = 0.0;
            for (const auto& [s, x] : centres) {
                const double r = x - (track[0] + track[1] * s + track[2] * s * s);
                squares += r * r;
            }
            if (std::sqrt(squares / centres.size()) > kWorstTrack) {
                return false;
            }
            line.centres = std::move(centres);
        }
    }
    line.column = track[0];
    line.slope = track[1];
    line.curvature = track[2];
    return true;
}

}  // namespace

std::vector<CrossingLine> FindCrossingLines(const SeamStrip& strip, StripSide side, const CrossingOptions& options) {
    std::vector<CrossingLine> lines;
    const int columns = strip.ink.cols;
    const int h = strip.halfRows;
    if (strip.ink.empty() || h - options.gapRows < 3) {
        return lines;
    }
    // Columns where the whole strip has tiles on both sides.
    std::vector<bool> usable(static_cast<std::size_t>(columns), true);
    for (int r = 0; r < strip.valid.rows; ++r) {
        const unsigned char* v = strip.valid.ptr<unsigned char>(r);
        for (int c = 0; c < columns; ++c) {
            usable[c] = usable[c] && v[c] != 0;
        }
    }
    cv::Mat surround;
    cv::blur(strip.ink, surround, cv::Size(kSurroundColumns, 1), cv::Point(-1, -1), cv::BORDER_REFLECT);
    cv::Mat high = strip.ink - surround;
    for (int r = 0; r < high.rows; ++r) {
        float* p = high.ptr<float>(r);
        for (int c = 0; c < columns; ++c) {
            if (!usable[c]) {
                p[c] = 0.0f;
            }
        }
    }
    Band band;
    for (int d = options.gapRows; d <= h; ++d) {
        const int row = side == StripSide::second ? h + d : h - d;
        band.rows.push_back(high.ptr<float>(row));
        band.across.push_back(row - h);
    }
    const int depth = static_cast<int>(band.rows.size());

    // Every straight piece through the band summed at once for each slope,
    // over every other row and to the nearest column (the line is followed
    // row by row afterwards): the best slope at each column.
    const double step = 1.5 / depth;
    const int slopes = static_cast<int>(std::floor(options.largestSlope / step));
    // The rows summed, each with zeros beyond both ends: a sum takes a column
    // beyond the strip as nothing. Sums are made a block of columns at a
    // time, each column's rows added in the same order, so every sum is the
    // same float whatever the block.
    std::vector<int> summedRows;
    for (int i = 0; i < depth; i += 2) {
        summedRows.push_back(i);
    }
    const int margin = static_cast<int>(std::ceil(slopes * step * h)) + 1;
    const int blocks = (columns + kSumBlock - 1) / kSumBlock;
    const int padded = blocks * kSumBlock + 2 * margin;
    std::vector<float> rowsPadded(summedRows.size() * static_cast<std::size_t>(padded), 0.0f);
    for (std::size_t k = 0; k < summedRows.size(); ++k) {
        std::copy(band.rows[summedRows[k]], band.rows[summedRows[k]] + columns,
                  rowsPadded.begin() + static_cast<std::ptrdiff_t>(k * padded + margin));
    }
    std::vector<int> shifts(summedRows.size());
    std::vector<float> best(static_cast<std::size_t>(blocks) * kSumBlock, -INFINITY);
    std::vector<float> bestSlope(best.size(), 0.0f);
    for (int k = -slopes; k <= slopes; ++k) {
        const double slope = k * step;
        for (std::size_t r = 0; r < summedRows.size(); ++r) {
            shifts[r] = static_cast<int>(std::lround(slope * band.across[summedRows[r]]));
        }
        for (int b = 0; b < blocks; ++b) {
            cv::v_float32x4 s0 = cv::v_setzero_f32(), s1 = s0, s2 = s0, s3 = s0;
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(margin) + b * kSumBlock;
            for (std::size_t r = 0; r < summedRows.size(); ++r) {
                const float* row = rowsPadded.data() + r * padded + at + shifts[r];
                s0 = s0 + cv::v_load(row);
                s1 = s1 + cv::v_load(row + 4);
                s2 = s2 + cv::v_load(row + 8);
                s3 = s3 + cv::v_load(row + 12);
            }
            float sum[kSumBlock];
            cv::v_store(sum, s0);
            cv::v_store(sum + 4, s1);
            cv::v_store(sum + 8, s2);
            cv::v_store(sum + 12, s3);
            float* bestHere = best.data() + b * kSumBlock;
            float* slopeHere = bestSlope.data() + b * kSumBlock;
            for (int j = 0; j < kSumBlock; ++j) {
                if (sum[j] > bestHere[j]) {
                    bestHere[j] = sum[j];
                    slopeHere[j] = static_cast<float>(slope);
                }
            }
        }
    }
    const int summed = (depth + 1) / 2;
    const double least = options.leastInk * summed;
    for (int c = 0; c < columns; ++c) {
        if (!usable[c] || best[c] < least) {
            continue;
        }
        bool peak = true;
        for (int o = -kPeakSpacing; o <= kPeakSpacing && peak; ++o) {
            const int n = c + o;
            peak = o == 0 || n < 0 || n >= columns || best[n] < best[c] || (best[n] == best[c] && n > c);
        }
        if (!peak) {
            continue;
        }
        CrossingLine line{static_cast<double>(c), bestSlope[c], 0.0, best[c] / summed, {}};
        if (!Follow(band, columns, line) || std::fabs(line.slope) > options.largestSlope) {
            continue;
        }
        // Its whole track within usable columns.
        const double far = line.column + line.slope * band.across.back();
        const int lo = static_cast<int>(std::floor(std::min(line.column, far))) - 1;
        const int hi = static_cast<int>(std::ceil(std::max(line.column, far))) + 1;
        if (lo < 0 || hi >= columns || !std::all_of(usable.begin() + lo, usable.begin() + hi + 1, [](bool u) { return u; })) {
            continue;
        }
        const bool repeated = !lines.empty() && std::fabs(lines.back().column - line.column) < 1.0 &&
                              std::fabs(lines.back().slope - line.slope) < 0.1;
        if (!repeated) {
            lines.push_back(line);
        }
    }
    std::sort(lines.begin(), lines.end(), [](const CrossingLine& a, const CrossingLine& b) { return a.column < b.column; });
    return lines;
}

}  // namespace georef::seams
