// georef-config: writes georef's config.bin for map sheets with PROJ.

#include <iostream>

#include "tools/config_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunConfigTool(argc, argv, std::cout, std::cerr); }
