// georef-screenshot: a picture of a review page as headless Chromium shows
// it, for a person to look at without opening a browser.
//
//   georef-screenshot PAGE PNG [--max-height PIXELS]
//
// Exit status: 0 written, 1 failure (no browser, page or file problem), 2
// wrong command line.

#include <iostream>
#include <optional>
#include <string>

#include "devtools/headless_browser.hpp"
#include "platform/arguments.hpp"

namespace {

constexpr const char* kUsage = "usage: georef-screenshot PAGE PNG [--max-height PIXELS]\n";

}  // namespace

int main(int argc, char** argv) {
    std::optional<int> maxHeight = 4000;
    if (argc == 5) {
        maxHeight = std::string(argv[3]) == "--max-height" ? georef::platform::ParsePositiveWhole(argv[4]) : std::nullopt;
    }
    if ((argc != 3 && argc != 5) || !maxHeight) {
        std::cerr << kUsage;
        return 2;
    }
    try {
        georef::devtools::WriteScreenshot(argv[1], argv[2], *maxHeight);
    } catch (const std::exception& e) {
        std::cerr << "georef-screenshot: " << e.what() << '\n';
        return 1;
    }
    std::cout << argv[2] << '\n';
    return 0;
}
