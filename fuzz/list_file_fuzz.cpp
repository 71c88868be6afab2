// A list file of an area, typed by a person or written by another tool: any
// bytes. It is read into sheets, or refused with BatchError; every sheet read
// has a valid five-digit number and a scan name.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/sheet_list.hpp"
#include "fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = georef::fuzz::ScratchPath("area.txt");
    georef::fuzz::WriteFileBytes(path, data, size);
    try {
        const std::vector<georef::batch::SheetInput> sheets = georef::batch::ReadListFile(path);
        for (const georef::batch::SheetInput& sheet : sheets) {
            if (sheet.sheetText.size() != 5 || sheet.scan.empty()) {
                georef::fuzz::Fail("a sheet read from a list has no five-digit number or no scan");
            }
        }
    } catch (const georef::batch::BatchError&) {
        // Refused with a message: what a damaged list must give.
    }
    return 0;
}
