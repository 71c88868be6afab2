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
            throw Failure(std::string(geometry::kNoFitText) + " (" + e.what() + ")");
        }
        geometry::WriteCornerFitReport(report, corners, args.sheet, args.cornerFile, out);

        if (!report.Finite()) {
            err << kProgram << ": the fit is not finite (a parameter or residual is infinite or not a number): "
                   "a corner coordinate in "
                << args.cornerFile << " is far too large or not a number\n";
            return 1;
        }
        const geometry::CornerFitJudgement judgement = geometry::JudgeCornerFit(report, args.threshold);
        for (const std::string& warning : judgement.warnings) {
            err << kProgram << ": warning: " << warning << "\n";
        }
        if (!judgement.advice.empty()) {
            err << kProgram << ": " << judgement.advice << "\n";
        }
        if (judgement.sound) {
            out << judgement.okLine << "\n";
            return 0;
        }
        return 1;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
