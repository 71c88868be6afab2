#include "platform/program_info.hpp"

#include <exception>
#include <string>

#include "platform/failure.hpp"

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

int ReportCurrentException(const char* program, const char* usage, std::ostream& err) noexcept {
    try {
        throw;
    } catch (const Failure& e) {
        err << program << ": " << e.what() << "\n";
        if (e.Status() == ExitStatus::usage) {
            err << usage;
        }
        return static_cast<int>(e.Status());
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << "\n";
    } catch (...) {
        err << program << ": unexpected error\n";
    }
    return static_cast<int>(ExitStatus::failure);
}

}  // namespace georef::platform
