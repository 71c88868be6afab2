// georef-review: fix the sheets of a batch in the browser.

#include <iostream>

#include "tools/review_tool.hpp"

int main(int argc, char** argv) { return georef::tools::RunReviewTool(argc, argv, std::cout, std::cerr); }
