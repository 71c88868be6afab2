// georef-demo-scan: draws a synthetic scan of a map sheet and its corner file.

#include <iostream>

#include "tools/demo_scan_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunDemoScanTool(argc, argv, std::cout, std::cerr); }
