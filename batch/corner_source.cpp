#include "batch/corner_source.hpp"

#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "corners/find_corners.hpp"
#include "geometry/corner_fit.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;

bool IsFile(const std::string& name) {
    return platform::Exists(name) && !platform::IsDirectory(name);
}

// True when file exists and was modified after every one of sources.
bool NewerThan(const std::string& file, std::initializer_list<std::string> sources) {
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(file, error);
    if (error) {
        return false;
    }
    for (const std::string& source : sources) {
        const fs::file_time_type sourceTime = fs::last_write_time(source, error);
        if (error || !(sourceTime < time)) {
            return false;
        }
    }
    return true;
}

// The corner file given or found beside the scan or in --corners; empty
// cornerFile with the places tried as the refusal when there is none.
CornerSource GivenCornerFile(const SheetInput& input, const std::string& cornersDirectory) {
    if (!input.cornerFile.empty()) {
        if (IsFile(input.cornerFile)) {
            return CornerSource{input.cornerFile, {}, {}, false};
        }
        return CornerSource{{}, "no corner file " + input.cornerFile, {}, false};
    }
    const std::string name = input.sheetText + ".txt";
    std::string tried;
    if (!cornersDirectory.empty()) {
        const std::string candidate = platform::JoinPath(cornersDirectory, name);
        if (IsFile(candidate)) {
            return CornerSource{candidate, {}, {}, false};
        }
        tried = candidate + " or ";
    }
    const std::string scanDirectory = fs::path(input.scan).parent_path().string();
    const std::string beside = platform::JoinPath(scanDirectory, name);
    if (IsFile(beside)) {
        return CornerSource{beside, {}, {}, false};
    }
    return CornerSource{{}, "no corner file (" + tried + beside + ")", {}, false};
}

// The insets at a corner file's corners, drawn again only when the picture
// is older than the corner file or the scan.
std::string PictureOfCornerFile(const SheetInput& input, const std::string& cornerFile, const std::string& picture) {
    if (NewerThan(picture, {cornerFile, input.scan})) {
        return picture;
    }
    std::ifstream in(cornerFile);
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    if (!corners) {
        return {};  // the run reports the corner file
    }
    corners::WriteCornerReport(picture, input.scan, input.sheet, *corners);
    return picture;
}

// The corner finder: a corner file in the output directory, or the refusal.
CornerSource FindCornersOf(const SheetInput& input, const std::string& foundFile, const std::string& picture) {
    if (NewerThan(foundFile, {input.scan})) {
        return CornerSource{foundFile, {}, IsFile(picture) ? picture : std::string(), true};
    }
    std::error_code ignored;
    fs::remove(foundFile, ignored);  // made from an older scan
    const corners::FindResult found = corners::FindCorners(input.sheet, input.scan);
    CornerSource source;
    if (found.measured || found.searched) {
        try {
            corners::WriteCornerReport(picture, input.scan, input.sheet, found);
            source.picture = picture;
        } catch (const std::exception&) {
            // The picture only shows what was found; the sheet goes on without it.
        }
    }
    if (!found.Found()) {
        source.refusal = "the corner finder refused: " + found.refusal;
        return source;
    }
    corners::WriteCornerFile(foundFile, *found.corners);
    source.cornerFile = foundFile;
    source.found = true;
    return source;
}

}  // namespace

std::string FoundCornersDirectory(const std::string& outputDirectory) {
    return platform::JoinPath(outputDirectory, "corners");
}

CornerSource LocateCorners(const SheetInput& input, const std::string& cornersDirectory,
                           const std::string& outputDirectory) noexcept {
    const std::string directory = FoundCornersDirectory(outputDirectory);
    const std::string picture = platform::JoinPath(directory, input.sheetText + ".png");
    try {
        CornerSource given = GivenCornerFile(input, cornersDirectory);
        if (given.cornerFile.empty() && !input.cornerFile.empty()) {
            return given;  // the list names a corner file that is not there
        }
        if (!given.cornerFile.empty()) {
            try {
                given.picture = PictureOfCornerFile(input, given.cornerFile, picture);
            } catch (const std::exception&) {
                // No picture; the run itself reports an unreadable scan.
            }
            return given;
        }
        CornerSource found;
        try {
            found = FindCornersOf(input, platform::JoinPath(directory, input.sheetText + ".txt"), picture);
        } catch (const std::exception& error) {
            found.refusal = std::string("the corner finder cannot use the scan: ") + error.what();
        }
        if (found.cornerFile.empty()) {
            found.refusal = given.refusal + "; " + found.refusal;
        }
        return found;
    } catch (const std::exception& error) {
        return CornerSource{{}, std::string("no corners: ") + error.what(), {}, false};
    }
}

}  // namespace georef::batch
