#include "tools/seams_tool.hpp"

#include <optional>
#include <string>
#include <vector>

#include "batch/journal.hpp"
#include "platform/arguments.hpp"
#include "platform/failure.hpp"
#include "platform/file_system.hpp"
#include "platform/program_info.hpp"
#include "seams/area_seams.hpp"

namespace georef::tools {

namespace {

constexpr const char* kProgram = "georef-seams";

const char* const kUsage =
    "usage: georef-seams OUTDIR [--config FILE] [--threshold METRES]\n"
    "Measures, from the tiles of OUTDIR/mosaic.vrt, how far the content of every pair of\n"
    "neighbouring sheets finished in OUTDIR (its journal) breaks at their shared edge\n"
    "(outlines from config.bin), and writes OUTDIR/seams.csv.\n"
    "  --config FILE        the transformation file (default: ./config.bin)\n"
    "  --threshold METRES   a larger offset makes a seam suspect (default: 25)\n"
    "  -h, --help           print this text\n"
    "  --version            print the version\n";

struct Arguments {
    std::string outputDirectory;
    std::string configFile = "config.bin";
    seams::SeamOptions options;
};

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments args;
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--config") {
            args.configFile = platform::OptionValue(argc, argv, k);
        } else if (arg == "--threshold") {
            const std::string value = platform::OptionValue(argc, argv, k);
            const std::optional<double> metres = platform::ParseFiniteNumber(value);
            if (!metres || *metres <= 0.0) {
                throw platform::UsageError("--threshold needs a number of metres above 0, not '" + value + "'");
            }
            args.options.thresholdMetres = *metres;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw platform::UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 1) {
        throw platform::UsageError("expected OUTDIR");
    }
    args.outputDirectory = positional[0];
    return args;
}

}  // namespace

int RunSeamsTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Arguments args = ParseArguments(argc, argv);
        const batch::Journal journal = batch::Journal::Load(args.outputDirectory);
        if (journal.Size() == 0) {
            throw Failure(args.outputDirectory + " holds no finished sheet (no batch journal)");
        }
        seams::AreaSeamsRequest request;
        request.outputDirectory = args.outputDirectory;
        request.configPath = args.configFile;
        request.options = args.options;
        std::vector<batch::SheetResult> none;
        const seams::AreaSeams measured = seams::MeasureAreaSeams(request, none);
        seams::WriteSeamsReport(measured.table, out);
        out << "seams: " << measured.csvPath << std::endl;
        return 0;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
