// georef-seams: measures the seams between neighbouring sheets in OUTDIR.

#include <iostream>

#include "tools/seams_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunSeamsTool(argc, argv, std::cout, std::cerr); }
