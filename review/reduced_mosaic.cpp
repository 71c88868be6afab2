#include "review/reduced_mosaic.hpp"

#include <algorithm>
#include <cmath>

namespace georef::review {

namespace {

// Where one reduced pixel's span [from, to) of mosaic pixels falls among
// output pixels of `scale` output pixels a mosaic pixel: `first` takes
// `weight0`, the next one `weight1` (0 when the span ends in the first).
struct Spread {
    int first = 0;
    float weight0 = 0.0f;
    float weight1 = 0.0f;
};

Spread SpreadOf(double from, double to, double scale, int outSize) noexcept {
    const double a = from * scale;
    const double b = to * scale;
    Spread s;
    s.first = std::min(outSize - 1, std::max(0, static_cast<int>(std::floor(a))));
    const double split = s.first + 1.0;
    if (b <= split || s.first + 1 >= outSize) {
        s.weight0 = static_cast<float>(std::min(b, split) - a);
    } else {
        s.weight0 = static_cast<float>(split - a);
        s.weight1 = static_cast<float>(b - split);
    }
    return s;
}

// The spreads of a tile's reduced columns (or rows): reduced pixel k spans
// mosaic pixels origin + step k up to the tile's end.
std::vector<Spread> Spreads(int origin, int size, int reduced, int step, double scale, int outSize) {
    std::vector<Spread> spreads(static_cast<std::size_t>(reduced));
    for (int k = 0; k < reduced; ++k) {
        const int from = k * step;
        const int to = std::min(size, from + step);
        spreads[static_cast<std::size_t>(k)] =
            SpreadOf(static_cast<double>(origin + from), static_cast<double>(origin + to), scale, outSize);
    }
    return spreads;
}

}  // namespace

int KeptReadScale(int width, int height, int outWidth, int outHeight) noexcept {
    int scale = 0;
    for (int s = 1; s <= kMostKeptScale; s *= 2) {
        if (static_cast<long long>(outWidth) * kTileReduction * s <= width &&
            static_cast<long long>(outHeight) * kTileReduction * s <= height) {
            scale = s;
        }
    }
    return scale;
}

std::vector<std::uint8_t> AverageReducedTiles(const std::vector<MosaicTile>& tiles, int width, int height,
                                              int outWidth, int outHeight, int readScale) {
    // Per output pixel the weighted sums of red, green and blue and the
    // share of it that tiles cover, spread first along each reduced row
    // (into `line`), then down to the output rows it meets.
    constexpr int kSums = 4;
    const std::size_t pixels = static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight);
    std::vector<float> sums(pixels * kSums, 0.0f);
    const double scaleX = static_cast<double>(outWidth) / width;
    const double scaleY = static_cast<double>(outHeight) / height;
    std::vector<float> line(static_cast<std::size_t>(outWidth) * kSums);
    for (const MosaicTile& t : tiles) {
        const ReducedTile reduced = ReduceTile(t.path, t.width, t.height, readScale);
        const std::vector<Spread> columns = Spreads(t.x, t.width, reduced.width, reduced.step, scaleX, outWidth);
        const std::vector<Spread> rows = Spreads(t.y, t.height, reduced.height, reduced.step, scaleY, outHeight);
        const int left = columns.front().first;
        const int right = std::min(outWidth - 1, columns.back().first + 1);
        for (int r = 0; r < reduced.height; ++r) {
            std::fill(line.begin() + left * kSums, line.begin() + (right + 1) * kSums, 0.0f);
            const std::uint8_t* rgb = reduced.rgb.data() + static_cast<std::size_t>(r) * reduced.width * 3;
            for (int c = 0; c < reduced.width; ++c, rgb += 3) {
                const Spread& x = columns[static_cast<std::size_t>(c)];
                const float value[kSums] = {static_cast<float>(rgb[0]), static_cast<float>(rgb[1]), static_cast<float>(rgb[2]), 1.0f};
                float* at = &line[static_cast<std::size_t>(x.first) * kSums];
                for (int k = 0; k < kSums; ++k) {
                    at[k] += x.weight0 * value[k];
                }
                if (x.weight1 > 0.0f) {
                    for (int k = 0; k < kSums; ++k) {
                        at[kSums + k] += x.weight1 * value[k];
                    }
                }
            }
            const Spread& y = rows[static_cast<std::size_t>(r)];
            for (int part = 0; part < 2; ++part) {
                const float weight = part == 0 ? y.weight0 : y.weight1;
                if (weight <= 0.0f) {
                    continue;
                }
                float* to = &sums[(static_cast<std::size_t>(y.first + part) * outWidth + left) * kSums];
                const float* from = &line[static_cast<std::size_t>(left) * kSums];
                for (int k = 0; k < (right - left + 1) * kSums; ++k) {
                    to[k] += weight * from[k];
                }
            }
        }
    }
    std::vector<std::uint8_t> out(pixels * 3, 255);  // white where no tile is
    for (std::size_t k = 0; k < pixels; ++k) {
        const float* sum = &sums[k * kSums];
        if (sum[3] < 0.5f) {
            continue;  // less than half of it covered
        }
        for (int channel = 0; channel < 3; ++channel) {
            const float mean = sum[channel] / sum[3];
            out[k * 3 + static_cast<std::size_t>(channel)] = static_cast<std::uint8_t>(std::min(255.0f, mean + 0.5f));
        }
    }
    return out;
}

const std::uint8_t* ReducedPixels::At(double column, double row) {
    const auto holds = [&](std::size_t k) {
        const MosaicTile& t = m_tiles[k];
        return column >= t.x && row >= t.y && column < t.x + t.width && row < t.y + t.height;
    };
    std::size_t index = m_last;
    if (index >= m_tiles.size() || !holds(index)) {
        index = 0;
        while (index < m_tiles.size() && !holds(index)) {
            ++index;
        }
        if (index == m_tiles.size()) {
            return nullptr;
        }
        m_last = index;
    }
    const MosaicTile& t = m_tiles[index];
    const ReducedTile& reduced = Held(index);
    const int c = std::min(reduced.width - 1, static_cast<int>(column - t.x) / kTileReduction);
    const int r = std::min(reduced.height - 1, static_cast<int>(row - t.y) / kTileReduction);
    return reduced.rgb.data() + (static_cast<std::size_t>(r) * reduced.width + static_cast<std::size_t>(c)) * 3;
}

const ReducedTile& ReducedPixels::Held(std::size_t index) {
    const auto found = m_held.find(index);
    if (found != m_held.end()) {
        return found->second;
    }
    const MosaicTile& t = m_tiles[index];
    ReducedTile reduced = ReduceTile(t.path, t.width, t.height);
    if (m_held.size() >= kHeld) {
        m_held.erase(m_order.front());
        m_order.erase(m_order.begin());
    }
    m_order.push_back(index);
    return m_held.emplace(index, std::move(reduced)).first->second;
}

}  // namespace georef::review
