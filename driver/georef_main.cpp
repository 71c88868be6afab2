#include <iostream>

#include "driver/run.hpp"

int main(int argc, char** argv) {
    return georef::driver::Run(argc, argv, std::cout, std::cerr);
}
