// The span kernels for wider vector units against the portable one, on
// sampling positions at and around the edges of the sampler's domain.

#include "tiling/span_kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tiling_scene.hpp"

namespace georef::tiling {
namespace {

// A job whose chain reduces to u = 4 lon + 0.5 and v = (H - 8 lat) - 1.5
// (nominal corners of a unit square, identity fit, graticule origin 0), so
// that chosen grid values give chosen sampling positions.
class SpanKernelTest : public ::testing::Test {
protected:
    static constexpr int kColumns = 200;

    SpanKernelTest()
        : m_lonA(kColumns + kSpanKernelLanes, 0.0),
          m_lonB(kColumns + kSpanKernelLanes, 0.0),
          m_latA(kColumns + kSpanKernelLanes, 0.0),
          m_latB(kColumns + kSpanKernelLanes, 0.0) {
        m_job.lonA = m_lonA.data();
        m_job.lonB = m_lonB.data();
        m_job.latA = m_latA.data();
        m_job.latB = m_latB.data();
        m_job.fx = 0.0;
        m_job.corner = m_corner;
        m_job.inverse[0][0] = 1.0;
        m_job.inverse[1][1] = 1.0;
        m_job.pixels = m_scene.Scan().Pixels();
        m_job.width = m_scene.Scan().Width();
        m_job.height = m_scene.Scan().Height();
    }

    // Column m samples at plane position (u, v).
    void Place(int m, double u, double v) {
        m_lonA[m] = m_lonB[m] = (u - 0.5) / 4.0;
        m_latA[m] = m_latB[m] = ((m_job.height - 1.5) - v) / 8.0;
    }

    // Bytes of a row painted by kernel over columns start .. end - 1 of a
    // buffer that starts as 0x5A everywhere.
    std::vector<std::uint8_t> Paint(SpanKernel kernel, int start, int end) {
        std::vector<std::uint8_t> row(3 * kColumns, 0x5A);
        SpanJob job = m_job;
        job.start = start;
        job.end = end;
        job.rgb = row.data();
        kernel(job);
        return row;
    }

    test::TilingScene m_scene;
    double m_corner[8] = {0.0, 0.0, 0.0, 1.0, 1.0, 1.0, 1.0, 0.0};
    std::vector<double> m_lonA, m_lonB, m_latA, m_latB;
    SpanJob m_job;
};

TEST_F(SpanKernelTest, EdgesOfTheScanAndInvalidPositionsMatchThePortableKernel) {
    const double width = m_job.width;
    const double height = m_job.height;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Along one axis: outside, on and just inside the domain's edges.
    const std::vector<double> edges = {-1.0,        -0.25,       -0.0,         0.0,          0.25,
                                       0.5,         width - 1.5, width - 1.25, width - 1.0,  width - 0.5,
                                       width,       1e300,       -1e300,       nan,          inf,
                                       -inf};
    const std::vector<double> rows = {-0.25, 0.0, 3.75, height - 1.25, height - 1.0, height - 2.0, nan};

    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> inside(0.0, 1.0);
    int m = 0;
    for (const double v : rows) {
        for (const double u : edges) {
            if (m < kColumns) {
                Place(m++, u, v);
            }
        }
    }
    // The bottom-right corner of the domain: the last position whose four
    // samples exist, read through the samples' slack.
    Place(m++, std::nextafter(width - 1.0, 0.0), std::nextafter(height - 1.0, 0.0));
    while (m < kColumns) {  // and anywhere inside
        Place(m++, inside(random) * (width - 1.0), inside(random) * (height - 1.0));
    }

    const std::vector<NamedSpanKernel> kernels = AvailableSpanKernels();
    ASSERT_STREQ(kernels.front().name, "portable");
    for (const NamedSpanKernel& kernel : kernels) {
        SCOPED_TRACE(kernel.name);
        // Spans of every length mod the vector width, anywhere in the row.
        for (const int start : {0, 1, 5, 17}) {
            for (const int end : {start, start + 1, start + 7, start + 16, start + 33, kColumns - 3, kColumns}) {
                ASSERT_EQ(Paint(kernel.kernel, start, end), Paint(PaintSpanPortable, start, end))
                    << start << " .. " << end;
            }
        }
    }
}

}  // namespace
}  // namespace georef::tiling
