#include "tools/check_tool.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <optional>
#include <string>

#include "geometry/sheet_geometry.hpp"
#include "platform/arguments.hpp"
#include "platform/failure.hpp"
#include "platform/program_info.hpp"

namespace georef::tools {

namespace {

constexpr const char* kProgram = "georef-check";
constexpr const char* kCornerNames[4] = {"LD", "LH", "PH", "PD"};

const char* const kUsage =
    "usage: georef-check SHEET CORNERFILE [--threshold METRES]\n"
    "Fits the corner file to the sheet as georef does and reports the fit and\n"
    "each corner's residual. Exits with 1 when a residual exceeds the threshold\n"
    "(default 12.5 m, 0.5 mm on the map) or the fit mirrors the scan.\n"
    "  --threshold METRES  largest residual accepted, metres (default 12.5)\n"
    "  -h, --help          print this text\n"
    "  --version           print the version\n";

struct Arguments {
    int sheet = 0;
    std::string cornerFile;
    double threshold = kDefaultThreshold;
};

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments args;
    std::string positional[2];
    int count = 0;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--threshold" || arg.rfind("--threshold=", 0) == 0) {
            const std::string text = arg.size() > 11 ? arg.substr(12) : platform::OptionValue(argc, argv, k);
            const std::optional<double> threshold = platform::ParseFiniteNumber(text);
            if (!threshold || *threshold <= 0.0) {
                throw platform::UsageError("--threshold takes a positive number of metres, not '" + text + "'");
            }
            args.threshold = *threshold;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else if (count < 2) {
            positional[count++] = arg;
        } else {
            throw Failure("too many arguments", ExitStatus::usage);
        }
    }
    if (count != 2) {
        throw Failure("expected a sheet number and a corner file", ExitStatus::usage);
    }
    // Read as georef reads it, and refused as georef refuses it.
    args.sheet = geometry::SheetNumberFromArgument(positional[0].c_str());
    if (!geometry::IsValidSheetNumber(args.sheet)) {
        throw Failure("'" + positional[0] + "' is not a valid sheet number (zone 34-45, column 00-99, section 1-4)",
                      ExitStatus::usage);
    }
    args.cornerFile = positional[1];
    return args;
}

geometry::CornerPoints ReadCorners(const std::string& name) {
    std::ifstream in(name);
    if (!in) {
        throw Failure("cannot open the corner file " + name);
    }
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    if (!corners) {
        throw Failure("the corner file " + name +
                      " does not hold four records 'id x y' (LD LH PH PD, pixels, y up from the bottom)");
    }
    return *corners;
}

void PrintReport(const CornerFitReport& r, const geometry::CornerPoints& corners, int sheet,
                 const std::string& cornerFile, std::ostream& out) {
    out << std::fixed;
    out << "sheet " << sheet << ", corners from " << cornerFile << "\n";
    out << "fit: nominal = A * image + T\n" << std::setprecision(6);
    out << "  A = [ " << std::setw(12) << r.A(0, 0) << " " << std::setw(12) << r.A(0, 1) << " ]\n";
    out << "      [ " << std::setw(12) << r.A(1, 0) << " " << std::setw(12) << r.A(1, 1) << " ]\n";
    out << std::setprecision(3) << "  T = ( " << r.T(0, 0) << ", " << r.T(1, 0) << " ) m\n";
    out << std::setprecision(4) << "scale: " << r.metresPerPixelX << " m per pixel along x, "
        << r.metresPerPixelY << " m per pixel along y (about " << std::setprecision(0) << r.dpi
        << " dpi at 1:25 000)\n";
    out << std::setprecision(3) << "rotation: " << r.rotationDegrees << " degrees"
        << (r.Mirrored() ? ", MIRRORED (det A < 0)" : "") << "\n";
    out << "corner  id          x          y   residual px   residual m\n";
    for (int k = 0; k < 4; ++k) {
        out << std::setprecision(2) << kCornerNames[k] << "  " << std::setw(6) << corners[k].id << " "
            << std::setw(10) << corners[k].x << " " << std::setw(10) << corners[k].y << " " << std::setw(13)
            << r.residuals[k].pixels << " " << std::setw(12) << r.residuals[k].metres << "\n";
    }
    out << "RMS residual: " << r.rmsPixels << " px, " << r.rmsMetres << " m\n";
}

}  // namespace

int RunCheckTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Arguments args = ParseArguments(argc, argv);
        const geometry::CornerPoints corners = ReadCorners(args.cornerFile);
        CornerFitReport report;
        try {
            report = AnalyseCornerFit(corners, args.sheet);
        } catch (const math::matrix_error& e) {
            throw Failure("the corners admit no fit: three of them lie on one line or coincide (" +
                          std::string(e.what()) + ")");
        }
        PrintReport(report, corners, args.sheet, args.cornerFile, out);

        if (!report.Finite()) {
            err << kProgram << ": the fit is not finite (a parameter or residual is infinite or not a number): "
                   "a corner coordinate in "
                << args.cornerFile << " is far too large or not a number\n";
            return 1;
        }
        bool sound = true;
        if (report.Mirrored()) {
            err << kProgram << ": warning: the fit mirrors the scan (det A < 0): the corners are not in the "
                   "order LD LH PH PD (lower left, upper left, upper right, lower right), or y was counted "
                   "down from the top edge instead of up from the bottom\n";
            sound = false;
        }
        for (int k = 0; k < 4; ++k) {
            if (report.residuals[k].metres > args.threshold) {
                err << kProgram << ": warning: corner " << kCornerNames[k] << " is " << std::fixed
                    << std::setprecision(1) << report.residuals[k].metres << " m ("
                    << report.residuals[k].pixels << " px) off the fit; the threshold is " << args.threshold
                    << " m\n";
                sound = false;
            }
        }
        if (report.WorstMetres() > args.threshold) {
            err << kProgram << ": the four corners do not fit one affine map: check that they are in the "
                   "order LD LH PH PD, that y counts up from the bottom edge, and that each lies on its "
                   "corner of the neat line\n";
        }
        if (sound) {
            out << "ok: every residual is within " << std::setprecision(1) << args.threshold << " m\n";
            return 0;
        }
        return 1;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
