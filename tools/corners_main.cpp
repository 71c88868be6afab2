// georef-corners: finds the corners of a sheet's neat line in a scan.

#include <iostream>

#include "tools/corners_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunCornersTool(argc, argv, std::cout, std::cerr); }
