#include "tools/tool_exit.hpp"

#include <exception>

#include "platform/failure.hpp"

namespace georef::tools {

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

}  // namespace georef::tools
