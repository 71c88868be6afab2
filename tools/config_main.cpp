// georef-config: writes georef's config.bin for map sheets with PROJ.

#include <iostream>

#include "platform/temporary_files.hpp"
#include "tools/config_tool.hpp"

int main(int argc, char** argv) {
    // An interrupted run removes the temporary file of config.bin before it ends.
    georef::platform::RemoveTemporariesOnSignals();
    return georef::tools::RunConfigTool(argc, argv, std::cout, std::cerr);
}
