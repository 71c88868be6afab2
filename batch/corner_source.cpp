#include "batch/corner_source.hpp"

#include <filesystem>

#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

bool IsFile(const std::string& name) {
    return platform::Exists(name) && !platform::IsDirectory(name);
}

}  // namespace

CornerSource LocateCorners(const SheetInput& input, const std::string& cornersDirectory) {
    if (!input.cornerFile.empty()) {
        if (IsFile(input.cornerFile)) {
            return CornerSource{input.cornerFile, {}};
        }
        return CornerSource{{}, "no corner file " + input.cornerFile};
    }
    const std::string name = input.sheetText + ".txt";
    std::string tried;
    if (!cornersDirectory.empty()) {
        const std::string candidate = platform::JoinPath(cornersDirectory, name);
        if (IsFile(candidate)) {
            return CornerSource{candidate, {}};
        }
        tried = candidate + " or ";
    }
    const std::string scanDirectory = std::filesystem::path(input.scan).parent_path().string();
    const std::string beside = platform::JoinPath(scanDirectory, name);
    if (IsFile(beside)) {
        return CornerSource{beside, {}};
    }
    return CornerSource{{}, "no corner file (" + tried + beside + ")"};
}

}  // namespace georef::batch
