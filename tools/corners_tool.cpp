#include "tools/corners_tool.hpp"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <string>
#include <thread>

#include "corners/find_corners.hpp"
#include "corners/orientation.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/arguments.hpp"
#include "platform/failure.hpp"
#include "platform/program_info.hpp"

namespace georef::tools {

namespace {

constexpr const char* kProgram = "georef-corners";

const char* const kUsage =
    "usage: georef-corners SHEET SCAN CORNERFILE [--report PNG] [--edge centre|outer|inner] [--dpi N]\n"
    "Finds the four corners of the sheet's neat line in the scan, checks them against\n"
    "the sheet and writes CORNERFILE for georef. Refuses (status 1, nothing written)\n"
    "when any side or check fails. --edge takes the line's outer or inner edge instead\n"
    "of its centre; --dpi gives the scan's resolution (it overrides the file's).\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

struct Arguments {
    int sheet = 0;
    std::string scan;
    std::string cornerFile;
    std::string report;
    corners::FindOptions options;
};

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments args;
    std::string positional[3];
    int count = 0;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--report" || arg == "--edge" || arg == "--dpi") {
            const std::string value = platform::OptionValue(argc, argv, k);
            if (arg == "--report") {
                args.report = value;
            } else if (arg == "--edge") {
                if (value == "centre" || value == "center") {
                    args.options.edge = corners::Edge::centre;
                } else if (value == "outer") {
                    args.options.edge = corners::Edge::outer;
                } else if (value == "inner") {
                    args.options.edge = corners::Edge::inner;
                } else {
                    throw Failure("--edge takes centre, outer or inner, not '" + value + "'", ExitStatus::usage);
                }
            } else {
                const std::optional<double> dpi = platform::ParseFiniteNumber(value);
                if (!dpi || *dpi < 10.0 || *dpi > 4800.0) {
                    throw Failure("--dpi takes a resolution from 10 to 4800, not '" + value + "'", ExitStatus::usage);
                }
                args.options.dpi = *dpi;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else if (count < 3) {
            positional[count++] = arg;
        } else {
            throw Failure("too many arguments", ExitStatus::usage);
        }
    }
    if (count != 3) {
        throw Failure("expected a sheet number, a scan and a corner file", ExitStatus::usage);
    }
    const std::string& sheet = positional[0];
    const std::optional<int> number = platform::ParseDigits(sheet);
    if (!number) {
        throw Failure("'" + sheet + "' is not a sheet number (like 40571)", ExitStatus::usage);
    }
    args.sheet = *number;
    if (!geometry::IsValidSheetNumber(args.sheet)) {
        throw Failure(sheet + " is not a valid sheet number (zone 34-45, column 00-99, section 1-4)",
                      ExitStatus::usage);
    }
    args.scan = positional[1];
    args.cornerFile = positional[2];
    if (args.cornerFile == args.scan || args.report == args.scan || (!args.report.empty() && args.report == args.cornerFile)) {
        throw Failure("the scan, the corner file and the report must be different files", ExitStatus::usage);
    }
    return args;
}

const char* DpiSourceName(corners::DpiSource source) {
    switch (source) {
        case corners::DpiSource::given:
            return "given";
        case corners::DpiSource::stated:
            return "stated by the file";
        case corners::DpiSource::estimated:
            return "estimated from the frame";
    }
    return "";
}

void PrintFound(const corners::FindResult& found, const Arguments& args, std::ostream& out) {
    const geometry::CornerFitReport& fit = *found.fit;
    out << std::fixed << std::setprecision(0);
    out << "sheet " << args.sheet << ", scan " << args.scan << " (" << found.width << " x " << found.height
        << " pixels, " << found.dpi << " dpi " << DpiSourceName(found.dpiSource) << ")\n";
    if (found.turnDegrees != 0) {
        out << "the scan is " << corners::TurnDescription(found.turnDegrees)
            << "; the corners carry the sheet's own labels (LD is its south-west corner)\n";
    }
    out << std::setprecision(2) << "neat line " << found.lineWidth << " px wide; corners at its "
        << (args.options.edge == corners::Edge::centre ? "centre" : args.options.edge == corners::Edge::outer ? "outer edge" : "inner edge")
        << "\n";
    out << "corner          x          y   residual px\n";
    for (int k = 0; k < 4; ++k) {
        const geometry::CornerPoint& c = (*found.corners)[static_cast<std::size_t>(k)];
        out << corners::kCornerNames[static_cast<std::size_t>(k)] << "     " << std::setw(10) << std::setprecision(2)
            << c.x << " " << std::setw(10) << c.y << " " << std::setw(13) << fit.residuals[static_cast<std::size_t>(k)].pixels
            << "\n";
    }
    for (int k = 0; k < 4; ++k) {
        const double far = found.extrapolated[static_cast<std::size_t>(k)];
        if (far > 0.0) {
            out << std::setprecision(0) << "corner " << corners::kCornerNames[static_cast<std::size_t>(k)]
                << " extrapolated: its sides' lines stop short of it and are carried on " << far << " px to meet\n";
        }
    }
    for (const std::string& note : corners::FramePlacementNotes(found)) {
        out << note << "\n";
    }
    if (found.reading.attempted) {
        out << "read: " << corners::DescribeReading(found.reading) << "\n";
    }
    if (!found.identity.message.empty()) {
        out << "note: " << found.identity.message << "\n";
    }
    out << std::setprecision(2) << "fit: RMS residual " << fit.rmsPixels << " px (" << fit.rmsMetres << " m), rotation " << std::setprecision(3)
        << fit.rotationDegrees << " degrees\n";
}

}  // namespace

int RunCornersTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Arguments args = ParseArguments(argc, argv);
        corners::FindOptions options = args.options;
        options.threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;  // one sheet runs alone here
        const corners::FindResult found = corners::FindCorners(args.sheet, args.scan, options);
        if (!args.report.empty() && (found.measured || found.searched)) {
            corners::WriteCornerReport(args.report, args.scan, args.sheet, found);
        }
        if (!found.Found()) {
            err << kProgram << ": refused, no corner file written: " << found.refusal << "\n";
            return static_cast<int>(ExitStatus::failure);
        }
        PrintFound(found, args, out);
        geometry::WriteCornerFile(args.cornerFile, *found.corners, geometry::CornerPrecision::measured);
        out << "wrote " << args.cornerFile << (args.report.empty() ? "" : " and " + args.report) << "\n";
        return 0;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
