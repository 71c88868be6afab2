#include <malloc.h>
#include <unistd.h>

#include <iostream>

#include "platform/temporary_files.hpp"
#include "tools/batch_tool.hpp"

int main(int argc, char** argv) {
    // Every sheet allocates and frees the same large buffers (its decoded
    // scan, its tiles). Kept by the allocator rather than handed back to the
    // kernel, they are not faulted in and zeroed again for the next sheet;
    // the process holds what its largest sheet needed until it ends.
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // An interrupted batch removes the temporary files of the tiles and the
    // journal it is writing; its finished sheets stay in the journal.
    georef::platform::RemoveTemporariesOnSignals();
    return georef::tools::RunBatchTool(argc, argv, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
