#pragma once
// An area of neighbouring sheets for the benches that run the programs on
// it: scans drawn with their exact corner files, config.bin written by
// georef-config's own code, the programs run as processes, and what a bench
// reads back (their CPU time, summary.csv's statuses, how far two tiles are
// apart).

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "synthesis/demo_scan.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::bench {

// A scan of sheet at scanPath and its exact corner file (the drawn corners,
// 10 significant digits) at cornerPath.
synthesis::RealisticScan DrawSheet(int sheet, const std::string& scanPath, const std::string& cornerPath,
                                   const synthesis::RealisticScanOptions& options);
synthesis::DemoScan DrawSheet(int sheet, const std::string& scanPath, const std::string& cornerPath,
                              const synthesis::DemoScanOptions& options);

// config.bin at path for the sheets (five-digit numbers), by georef-config's
// own code. Throws std::runtime_error with its message.
void WriteAreaConfig(const std::vector<std::string>& sheets, const std::string& path);

// Starts program (its path) with args in directory, its output and errors
// to /dev/null; the child's pid.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, const std::string& directory);

// Waits for the child pid: its exit status, or 128 + the signal that ended it.
int WaitProgram(pid_t pid);

// CPU seconds (user + system) of all children waited for so far.
double ChildrenCpuSeconds();

// Sheet -> status, from outputDirectory/summary.csv (empty without one).
std::map<std::string, std::string> SummaryStatuses(const std::string& outputDirectory);

// A JPEG file's pixels (a tile, a scan), RGB by rows; its size in width and height. Throws
// std::runtime_error when it cannot be opened.
std::vector<std::uint8_t> DecodeJpeg(const std::string& path, int& width, int& height);

// The share (0 to 1) of the pixels of two JPEG tiles that differ by more
// than levels in any band; nothing when their sizes differ.
std::optional<double> ShareOfPixelsOff(const std::string& a, const std::string& b, int levels);

}  // namespace georef::bench
