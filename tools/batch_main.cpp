#include <unistd.h>

#include <iostream>

#include "batch/batch_command.hpp"

int main(int argc, char** argv) {
    return georef::batch::RunBatchCommand(argc, argv, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
