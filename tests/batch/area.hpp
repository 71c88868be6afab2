#pragma once
// A small area for the batch tests: the four sheets of one cell (40571 to
// 40574, which share the tiles along their common edges), drawn at low
// resolution by the demo scan code with exact corner files, and config.bin
// written by the config tool. Built once in the build tree and shared by every
// test program and process (ctest runs each test in a process of its own).

#include <map>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/raster/tile_comparison.hpp"
#include "support/temp_dir.hpp"

namespace georef::batch {

inline constexpr int kOutputDpi = 40;  // tiles of 629 x 629 pixels
inline const std::vector<std::string> kSheets = {"40571", "40572", "40573", "40574"};

class Area {
public:
    // The area, made on first use. Scans SHEET.jpg and corner files SHEET.txt
    // are in ScanDir(), config.bin in Dir().
    static const Area& Get();

    std::string Dir() const { return m_dir; }
    std::string ScanDir() const { return m_dir + "/scans"; }
    std::string Config() const { return m_dir + "/config.bin"; }
    // Copies the scans and corner files into a fresh directory (for tests
    // that change them).
    void CopyScansTo(const std::string& directory) const;

private:
    Area();
    void Make() const;
    std::string m_dir;
};

// georef for each sheet, one after another, into outputDirectory.
void RunSequentially(const std::string& outputDirectory);

// Every tile's bytes (*.jpg of directory), by name.
std::map<std::string, std::string> TileBytes(const std::string& directory);

// The built georef-batch program.
inline std::string BatchExe() { return GEOREF_BATCH_EXE; }

// How far two tile directories are apart (see support/raster/tile_comparison.hpp).
using test::CompareTiles;
using test::kLostSheetShare;
using test::TileComparison;

}  // namespace georef::batch
