#include <unistd.h>

#include <iostream>

#include "platform/temporary_files.hpp"
#include "tools/batch_tool.hpp"

int main(int argc, char** argv) {
    // An interrupted batch removes the temporary files of the tiles and the
    // journal it is writing; its finished sheets stay in the journal.
    georef::platform::RemoveTemporariesOnSignals();
    return georef::tools::RunBatchTool(argc, argv, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
