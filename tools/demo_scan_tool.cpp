// georef-demo-scan's command line: the style, its options, and what is
// written.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/arguments.hpp"
#include "platform/failure.hpp"
#include "platform/program_info.hpp"
#include "synthesis/demo_scan.hpp"
#include "synthesis/realistic_scan.hpp"
#include "tools/demo_scan_tool.hpp"

namespace georef::tools {

namespace {

using synthesis::BorderStyle;
using synthesis::DemoScan;
using synthesis::DemoScanOptions;
using synthesis::Lettering;
using synthesis::PageContent;
using synthesis::RealisticScan;
using synthesis::RealisticScanOptions;
using synthesis::SheetCorner;
using synthesis::VariedRealisticOptions;
using synthesis::WriteDemoScan;
using synthesis::WriteRealisticScan;

const char* const kUsage =
    "usage: georef-demo-scan SHEET SCAN CORNERFILE [--dpi N] [--rotation DEGREES] [--density on|off] "
    "[--style plain|realistic] [realistic options]\n"
    "Draws a synthetic scan of the sheet (JPEG for .jpg, else TIFF) and its corner file.\n"
    "Realistic options (paper lengths in pixels at 300 dpi or mm, scanner lengths in scan pixels):\n"
    "  --seed N  --vary (draw every condition not given from the seed)\n"
    "  --neat-width PX  --frame-gap PX  --frame-width PX  --border filled|ticks  --margin MM\n"
    "  --decoy none|west|north|east|south  --bed MM (0: light lid)  --grain LEVELS  --stains N\n"
    "  --folds N  --lighting FRACTION  --blur SIGMA  --quality Q  --bow PX\n"
    "  --torn-corner none|ld|lh|ph|pd  --crop none|west|north|east|south  --scale FACTOR\n"
    "  --page map|blank|text  --turn 0|90|180|270  --lettering plain|serif|italic|small-caps\n"
    "  --title-sheet N (the title names sheet N)\n"
    "  --landscape N (content from the continuous landscape N, which neighbouring sheets continue)\n"
    "  --shift EAST,NORTH (the landscape drawn that many metres off on the ground)\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

double Number(const std::string& option, const std::string& text) {
    const std::optional<double> value = platform::ParseFiniteNumber(text);
    if (!value) {
        throw platform::UsageError(option + " takes a number");
    }
    return *value;
}

int Whole(const std::string& option, const std::string& text) {
    const double value = Number(option, text);
    if (value != std::floor(value) || std::fabs(value) > 1e9) {
        throw Failure(option + " takes a whole number", ExitStatus::usage);
    }
    return static_cast<int>(value);
}

template <typename Choice>
Choice Pick(const std::string& option, const std::string& text,
            std::initializer_list<std::pair<const char*, Choice>> choices) {
    std::string names;
    for (const auto& [name, value] : choices) {
        if (text == name) {
            return value;
        }
        names += names.empty() ? name : std::string("|") + name;
    }
    throw Failure(option + " takes " + names, ExitStatus::usage);
}

// A side of the sheet by its compass word, or none.
std::optional<geometry::Side> PickSide(const std::string& option, const std::string& text) {
    return Pick<std::optional<geometry::Side>>(option, text,
                                               {{"none", std::nullopt},
                                                {"west", geometry::Side::left},
                                                {"north", geometry::Side::top},
                                                {"east", geometry::Side::right},
                                                {"south", geometry::Side::bottom}});
}

// Sets one realistic option; false when the name is not one.
bool SetRealisticOption(RealisticScanOptions& o, const std::string& name, const std::string& value) {
    if (name == "--seed") {
        const double seed = Number(name, value);
        if (seed < 0 || seed != std::floor(seed) || seed > 9007199254740992.0) {
            throw Failure("--seed takes a whole number from 0", ExitStatus::usage);
        }
        o.seed = static_cast<std::uint64_t>(seed);
    } else if (name == "--landscape") {
        const double seed = Number(name, value);
        if (seed < 1 || seed != std::floor(seed) || seed > 9007199254740992.0) {
            throw Failure("--landscape takes a whole number from 1", ExitStatus::usage);
        }
        o.landscape = static_cast<std::uint64_t>(seed);
    } else if (name == "--shift") {
        const std::string::size_type comma = value.find(',');
        if (comma == std::string::npos) {
            throw Failure("--shift takes EAST,NORTH in metres", ExitStatus::usage);
        }
        o.shiftEastMetres = Number(name, value.substr(0, comma));
        o.shiftNorthMetres = Number(name, value.substr(comma + 1));
    } else if (name == "--neat-width") {
        o.neatLineWidth = Number(name, value);
    } else if (name == "--frame-gap") {
        o.frameGap = Number(name, value);
    } else if (name == "--frame-width") {
        o.frameWidth = Number(name, value);
    } else if (name == "--border") {
        o.border = Pick<BorderStyle>(name, value,
                                     {{"filled", BorderStyle::filledMinutes}, {"ticks", BorderStyle::minuteTicks}});
    } else if (name == "--margin") {
        o.marginMillimetres = Number(name, value);
    } else if (name == "--decoy") {
        o.decoy = PickSide(name, value);
    } else if (name == "--bed") {
        o.bedMillimetres = Number(name, value);
    } else if (name == "--grain") {
        o.grain = Number(name, value);
    } else if (name == "--stains") {
        o.stains = Whole(name, value);
    } else if (name == "--folds") {
        o.folds = Whole(name, value);
    } else if (name == "--lighting") {
        o.lighting = Number(name, value);
    } else if (name == "--blur") {
        o.blurPixels = Number(name, value);
    } else if (name == "--quality") {
        o.jpegQuality = Whole(name, value);
    } else if (name == "--bow") {
        o.bowPixels = Number(name, value);
    } else if (name == "--torn-corner") {
        o.tornCorner = Pick<SheetCorner>(name, value,
                                         {{"none", SheetCorner::none}, {"ld", SheetCorner::ld}, {"lh", SheetCorner::lh},
                                          {"ph", SheetCorner::ph}, {"pd", SheetCorner::pd}});
    } else if (name == "--crop") {
        o.crop = PickSide(name, value);
    } else if (name == "--scale") {
        o.scale = Number(name, value);
    } else if (name == "--turn") {
        o.turnDegrees = Pick<int>(name, value, {{"0", 0}, {"90", 90}, {"180", 180}, {"270", 270}});
    } else if (name == "--lettering") {
        o.lettering = Pick<Lettering>(name, value,
                                      {{"plain", Lettering::plain}, {"serif", Lettering::serif},
                                       {"italic", Lettering::italic}, {"small-caps", Lettering::smallCaps}});
    } else if (name == "--title-sheet") {
        o.titleSheet = Whole(name, value);
    } else if (name == "--page") {
        o.page = Pick<PageContent>(name, value,
                                   {{"map", PageContent::map}, {"blank", PageContent::blank}, {"text", PageContent::text}});
    } else {
        return false;
    }
    return true;
}

struct CommandLine {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // in order given
    bool realistic = false;
    bool vary = false;
};

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--vary") {
            line.vary = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::string value = platform::OptionValue(argc, argv, k);
            if (arg == "--style") {
                line.realistic = Pick<bool>(arg, value, {{"plain", false}, {"realistic", true}});
            } else {
                line.options.emplace_back(arg, value);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else {
            line.positional.push_back(arg);
        }
    }
    if (line.positional.size() != 3 || !platform::ParseDigits(line.positional[0])) {
        throw Failure("expected a sheet number, a scan name and a corner file name", ExitStatus::usage);
    }
    return line;
}

bool OnOff(const std::string& option, const std::string& value) {
    return Pick<bool>(option, value, {{"on", true}, {"off", false}});
}

// Sets an option both styles take; false when the name is not one.
template <typename Options>
bool SetCommonOption(Options& options, const std::string& name, const std::string& value) {
    if (name == "--dpi") {
        options.dpi = Number(name, value);
    } else if (name == "--rotation") {
        options.rotationDegrees = Number(name, value);
    } else if (name == "--density") {
        options.density = OnOff(name, value);
    } else {
        return false;
    }
    return true;
}

int RunPlain(const CommandLine& line, std::ostream& out) {
    DemoScanOptions options;
    for (const auto& [name, value] : line.options) {
        if (!SetCommonOption(options, name, value)) {
            throw Failure(name + " needs --style realistic", ExitStatus::usage);
        }
    }
    if (line.vary) {
        throw Failure("--vary needs --style realistic", ExitStatus::usage);
    }
    const int sheet = *platform::ParseDigits(line.positional[0]);
    const DemoScan scan = WriteDemoScan(sheet, line.positional[1], options);
    geometry::WriteCornerFile(line.positional[2], scan.corners, geometry::CornerPrecision::exact);
    out << "wrote " << line.positional[1] << " (" << scan.width << " x " << scan.height << " pixels) and "
        << line.positional[2] << "\n";
    return 0;
}

int RunRealistic(const CommandLine& line, std::ostream& out) {
    // The seed comes first: --vary draws the conditions from it, and the
    // options given override what it drew.
    std::uint64_t seed = RealisticScanOptions{}.seed;
    for (const auto& [name, value] : line.options) {
        if (name == "--seed") {
            RealisticScanOptions probe;
            SetRealisticOption(probe, name, value);
            seed = probe.seed;
        }
    }
    RealisticScanOptions options = line.vary ? VariedRealisticOptions(seed) : RealisticScanOptions{};
    options.seed = seed;
    for (const auto& [name, value] : line.options) {
        if (!SetCommonOption(options, name, value) && !SetRealisticOption(options, name, value)) {
            throw Failure("unknown option " + name, ExitStatus::usage);
        }
    }
    const int sheet = *platform::ParseDigits(line.positional[0]);
    const RealisticScan scan = WriteRealisticScan(sheet, line.positional[1], options);
    out << "wrote " << line.positional[1] << " (" << scan.width << " x " << scan.height << " pixels";
    if (!scan.hasMap) {
        out << ", a page without a map; no corner file)\n";
        return 0;
    }
    geometry::WriteCornerFile(line.positional[2], scan.corners, geometry::CornerPrecision::exact);
    out << ", neat line " << scan.neatLineWidth << " px wide) and " << line.positional[2] << "\n";
    return 0;
}

}  // namespace

int RunDemoScanTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status =
                platform::AnswerHelpOrVersion(argc, argv, "georef-demo-scan", kUsage, out)) {
            return *status;
        }
        const CommandLine line = ParseCommandLine(argc, argv);
        return line.realistic ? RunRealistic(line, out) : RunPlain(line, out);
    } catch (...) {
        return platform::ReportCurrentException("georef-demo-scan", kUsage, err);
    }
}

}  // namespace georef::tools
