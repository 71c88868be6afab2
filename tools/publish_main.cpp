// georef-publish: publishes the mosaic of an output directory.

#include <unistd.h>

#include <iostream>

#include "platform/temporary_files.hpp"
#include "tools/publish_tool.hpp"

int main(int argc, char** argv) {
    georef::platform::RemoveTemporariesOnSignals();
    return georef::tools::RunPublishTool(argc, argv, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
