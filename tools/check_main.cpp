// georef-check: reports the corner fit of a sheet before georef runs it.

#include <iostream>

#include "tools/check_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunCheckTool(argc, argv, std::cout, std::cerr); }
