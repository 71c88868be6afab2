#include "platform/program_info.hpp"

#include <string>

#include "platform/version.hpp"

namespace georef::platform {

std::optional<int> AnswerHelpOrVersion(int argc, const char* const* argv, const char* program,
                                       const char* usage, std::ostream& out) {
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "-h" || arg == "--help") {
            out << usage;
            return 0;
        }
        if (arg == "--version") {
            out << program << " (" << kPackageName << ") " << kVersion << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace georef::platform
