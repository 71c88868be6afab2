#include <iostream>

#include "driver/run.hpp"
#include "platform/temporary_files.hpp"

int main(int argc, char** argv) {
    // An interrupted run removes its temporary files before it ends.
    georef::platform::RemoveTemporariesOnSignals();
    return georef::driver::Run(argc, argv, std::cout, std::cerr);
}
