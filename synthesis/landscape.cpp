#include "synthesis/landscape.hpp"

#include <algorithm>
#include <cmath>

#include "synthesis/seeded_random.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Content reaches this far beyond the rectangle asked for: more than a cell
// (roads between villages) plus the largest hill.
constexpr double kMarginMetres = 2.0 * kCellMetres + 1800.0;
constexpr double kStepMetres = 20.0;  // between the points of a line

// Bands of the long lines, metres across them.
constexpr double kRailwayBand = 14000.0;      // running east-west
constexpr double kRiverBandEast = 11000.0;    // rivers running north-south
constexpr double kRiverBandNorth = 17000.0;   // rivers running east-west

struct Plane {
    double e = 0.0;  // metres of the landscape's plane
    double n = 0.0;
};

// The random source of one part of the landscape: the seed, two indices and
// what the part is.
SeededRandom PartRandom(std::uint64_t seed, long long i, long long j, std::uint64_t what) noexcept {
    SeededRandom mix(seed ^ (what * 0x9E3779B97F4A7C15ULL));
    std::uint64_t state = mix.Next() ^ static_cast<std::uint64_t>(i) * 0xD1B54A32D192ED03ULL;
    state = SeededRandom(state).Next() ^ static_cast<std::uint64_t>(j) * 0x8CB92BA72F3D8DD7ULL;
    return SeededRandom(SeededRandom(state).Next());
}

enum Part : std::uint64_t {
    kNode = 1,
    kRoadEast = 10,
    kRoadNorth,
    kRoadNorthEast,
    kRoadSouthEast,
    kRailway = 20,
    kRiverSouthNorth,
    kRiverWestEast,
    kLake = 30,
    kForest,
    kHill,
    kVillage,
};

Plane Node(std::uint64_t seed, long long i, long long j) noexcept {
    SeededRandom r = PartRandom(seed, i, j, kNode);
    const double e = (static_cast<double>(i) + r.Uniform(0.2, 0.8)) * kCellMetres;
    const double n = (static_cast<double>(j) + r.Uniform(0.2, 0.8)) * kCellMetres;
    return {e, n};
}

// A closed wobbling outline around centre, metres.
std::vector<GroundPoint> Blob(Plane centre, double radius, SeededRandom& shape) {
    double amplitude[3], phase[3];
    for (int h = 0; h < 3; ++h) {
        amplitude[h] = shape.Uniform(0.0, 0.25 / (h + 1));
        phase[h] = shape.Uniform(0.0, 2.0 * kPi);
    }
    const int count = std::clamp(static_cast<int>(2.0 * kPi * radius / kStepMetres), 24, 160);
    std::vector<GroundPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const double a = 2.0 * kPi * k / count;
        double r = radius;
        for (int h = 0; h < 3; ++h) {
            r += radius * amplitude[h] * std::sin((h + 2) * a + phase[h]);
        }
        points.push_back(Landscape::FromPlane(centre.e + r * std::cos(a), centre.n + r * std::sin(a)));
    }
    return points;
}

// A road from a to b, wavy between its fixed ends.
std::vector<GroundPoint> Road(Plane a, Plane b, SeededRandom& r) {
    const double length = std::hypot(b.e - a.e, b.n - a.n);
    const Plane d{(b.e - a.e) / length, (b.n - a.n) / length};
    const double amplitude = r.Uniform(20.0, 140.0);
    const double wavelength = r.Uniform(0.3, 0.8) * length;
    const double phase = r.Uniform(0.0, 2.0 * kPi);
    const int count = std::max(2, static_cast<int>(std::ceil(length / kStepMetres)));
    std::vector<GroundPoint> points;
    for (int k = 0; k <= count; ++k) {
        const double s = length * k / count;
        const double off = amplitude * std::sin(kPi * s / length) * std::sin(2.0 * kPi * s / wavelength + phase);
        points.push_back(Landscape::FromPlane(a.e + s * d.e - off * d.n, a.n + s * d.n + off * d.e));
    }
    return points;
}

// A line across the whole landscape: across = base + meanders(along), with
// along running from `from` to `to`; eastward true when along is E.
std::vector<GroundPoint> LongLine(double base, const double (&amplitude)[3], const double (&wavelength)[3],
                                  const double (&phase)[3], double from, double to, bool eastward) {
    std::vector<GroundPoint> points;
    for (double along = std::floor(from / kStepMetres) * kStepMetres; along <= to; along += kStepMetres) {
        double across = base;
        for (int h = 0; h < 3; ++h) {
            across += amplitude[h] * std::sin(2.0 * kPi * along / wavelength[h] + phase[h]);
        }
        points.push_back(eastward ? Landscape::FromPlane(along, across) : Landscape::FromPlane(across, along));
    }
    return points;
}

}  // namespace

std::string MadeUpName(SeededRandom& random) {
    static const char* const syllables[] = {"ho", "ra", "vi", "ce", "ny", "lu", "ka", "bor", "do", "mil", "sta", "ves",
                                            "nov", "kra", "ze", "lip", "tur", "sko", "pe", "dra", "mo", "li", "jan", "ov"};
    const int count = random.Integer(2, 4);
    std::string name;
    for (int k = 0; k < count; ++k) {
        name += syllables[random.Integer(0, static_cast<int>(std::size(syllables)) - 1)];
    }
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

LandscapeContent Landscape::Within(const geometry::SheetGraticule& area) const {
    const double e0 = area.lonWest * kMetresPerDegreeEast - kMarginMetres;
    const double e1 = area.lonEast * kMetresPerDegreeEast + kMarginMetres;
    const double n0 = area.latSouth * kMetresPerDegreeNorth - kMarginMetres;
    const double n1 = area.latNorth * kMetresPerDegreeNorth + kMarginMetres;
    const auto cell = [](double metres) { return static_cast<long long>(std::floor(metres / kCellMetres)); };
    const long long i0 = cell(e0), i1 = cell(e1), j0 = cell(n0), j1 = cell(n1);
    LandscapeContent content;

    // Areas first: the sheet drawing fills them under the lines.
    for (long long i = i0; i <= i1; ++i) {
        for (long long j = j0; j <= j1; ++j) {
            const Plane corner{static_cast<double>(i) * kCellMetres, static_cast<double>(j) * kCellMetres};
            SeededRandom forest = PartRandom(m_seed, i, j, kForest);
            if (forest.Chance(0.35)) {
                const Plane centre{corner.e + forest.Uniform(0.0, kCellMetres), corner.n + forest.Uniform(0.0, kCellMetres)};
                LandscapeArea a;
                a.kind = AreaKind::forest;
                a.hatchDirection = forest.Chance(0.5) ? 1 : -1;
                a.outline = Blob(centre, forest.Uniform(300.0, 900.0), forest);
                content.areas.push_back(std::move(a));
            }
            SeededRandom lake = PartRandom(m_seed, i, j, kLake);
            if (lake.Chance(0.12)) {
                const Plane centre{corner.e + lake.Uniform(0.0, kCellMetres), corner.n + lake.Uniform(0.0, kCellMetres)};
                LandscapeArea a;
                a.kind = AreaKind::lake;
                a.outline = Blob(centre, lake.Uniform(100.0, 350.0), lake);
                content.areas.push_back(std::move(a));
            }
        }
    }

    // Contour lines: rings nested around hills.
    for (long long i = i0; i <= i1; ++i) {
        for (long long j = j0; j <= j1; ++j) {
            SeededRandom hill = PartRandom(m_seed, i, j, kHill);
            if (!hill.Chance(0.3)) {
                continue;
            }
            const Plane centre{(static_cast<double>(i) + hill.Uniform(0.0, 1.0)) * kCellMetres,
                               (static_cast<double>(j) + hill.Uniform(0.0, 1.0)) * kCellMetres};
            const double radius = hill.Uniform(500.0, 1700.0);
            const double spacing = hill.Uniform(20.0, 40.0);
            const SeededRandom shape = hill.Fork();
            for (int ring = 1; ring * spacing < radius; ++ring) {
                SeededRandom copy = shape;  // the same wobble for every ring, so they nest
                LandscapeLine line;
                line.kind = ring % 5 == 0 ? LineKind::indexContour : LineKind::contour;
                line.widthAt300 = ring % 5 == 0 ? 2.4 : 1.2;
                line.closed = true;
                line.points = Blob(centre, ring * spacing, copy);
                content.lines.push_back(std::move(line));
            }
        }
    }

    // Rivers and railways across the whole landscape, in bands.
    const auto longLines = [&](double band, bool eastward, Part part, double chance, LineKind kind) {
        const double acrossFrom = eastward ? n0 : e0;
        const double acrossTo = eastward ? n1 : e1;
        const double alongFrom = eastward ? e0 : n0;
        const double alongTo = eastward ? e1 : n1;
        const double reach = 0.5 * band;  // how far a line strays from its band's middle
        for (long long k = static_cast<long long>(std::floor((acrossFrom - reach) / band));
             k <= static_cast<long long>(std::floor((acrossTo + reach) / band)); ++k) {
            SeededRandom r = PartRandom(m_seed, k, eastward ? 1 : 0, part);
            if (!r.Chance(chance)) {
                continue;
            }
            const double base = (static_cast<double>(k) + 0.5) * band + r.Uniform(-0.15, 0.15) * band;
            const bool river = kind == LineKind::river;
            const double amplitude[3] = {r.Uniform(0.05, 0.1) * band, river ? r.Uniform(200.0, 400.0) : 150.0,
                                         river ? r.Uniform(60.0, 140.0) : 0.0};
            const double wavelength[3] = {r.Uniform(12000.0, 20000.0), r.Uniform(2500.0, 5000.0),
                                          r.Uniform(700.0, 1300.0)};
            const double phase[3] = {r.Uniform(0.0, 2.0 * kPi), r.Uniform(0.0, 2.0 * kPi), r.Uniform(0.0, 2.0 * kPi)};
            LandscapeLine line;
            line.kind = kind;
            line.widthAt300 = river ? r.Uniform(3.0, 6.0) : 3.0;
            line.points = LongLine(base, amplitude, wavelength, phase, alongFrom, alongTo, eastward);
            content.lines.push_back(std::move(line));
        }
    };
    longLines(kRiverBandEast, false, kRiverSouthNorth, 0.8, LineKind::river);
    longLines(kRiverBandNorth, true, kRiverWestEast, 0.6, LineKind::river);
    longLines(kRailwayBand, true, kRailway, 0.7, LineKind::railway);

    // Roads between the villages of neighbouring cells, straight on or
    // slanting, so that they cross a sheet's edges at many angles.
    const struct {
        int di, dj;
        Part part;
        double chance;
    } links[] = {{1, 0, kRoadEast, 0.55}, {0, 1, kRoadNorth, 0.55}, {1, 1, kRoadNorthEast, 0.25},
                 {1, -1, kRoadSouthEast, 0.2}};
    for (long long i = i0; i <= i1; ++i) {
        for (long long j = j0; j <= j1; ++j) {
            for (const auto& link : links) {
                SeededRandom r = PartRandom(m_seed, i, j, link.part);
                if (!r.Chance(link.chance)) {
                    continue;
                }
                LandscapeLine line;
                line.kind = r.Chance(0.4) ? LineKind::mainRoad : LineKind::minorRoad;
                line.widthAt300 = line.kind == LineKind::mainRoad ? 6.0 : 1.5;
                line.points = Road(Node(m_seed, i, j), Node(m_seed, i + link.di, j + link.dj), r);
                content.lines.push_back(std::move(line));
            }
        }
    }

    // Villages at the nodes: houses and a name.
    for (long long i = i0; i <= i1; ++i) {
        for (long long j = j0; j <= j1; ++j) {
            SeededRandom r = PartRandom(m_seed, i, j, kVillage);
            if (!r.Chance(0.55)) {
                continue;
            }
            const Plane centre = Node(m_seed, i, j);
            const int houses = r.Integer(8, 30);
            for (int h = 0; h < houses; ++h) {
                LandscapeHouse house;
                house.centre = FromPlane(centre.e + r.Normal() * 170.0, centre.n + r.Normal() * 170.0);
                house.angleRadians = r.Uniform(0.0, kPi);
                house.lengthMetres = r.Uniform(17.0, 63.0);
                house.depthMetres = r.Uniform(17.0, 38.0);
                content.houses.push_back(house);
            }
            LandscapeName name;
            name.at = FromPlane(centre.e + 130.0, centre.n + 130.0);
            name.capHeightMillimetres = r.Uniform(2.0, 3.5);
            name.serif = r.Chance(0.35);
            name.text = MadeUpName(r);
            content.names.push_back(std::move(name));
        }
    }
    return content;
}

}  // namespace georef::synthesis
