#pragma once
// A small area for the batch tests: the four sheets of one cell (40571 to
// 40574, which share the tiles along their common edges), drawn at low
// resolution by the demo scan code with exact corner files, and config.bin
// written by the config tool. Built once in the build tree and shared by every
// test program and process (ctest runs each test in a process of its own).

#include <string>
#include <vector>

#include "support/process.hpp"
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

// The built georef-batch program.
inline std::string BatchExe() { return GEOREF_BATCH_EXE; }

// How far two tile directories are apart. A tile pixel differs when one of
// its channels differs by more than kDifferentLevels: the tiles of neighbours
// painted in another order go through the JPEG coder a different number of
// times after a sheet was painted, which moves a pixel by a few levels; a
// lost sheet leaves white where paper (246, 240, 222) and drawing belong.
inline constexpr int kDifferentLevels = 24;
// In this area a sheet left out makes 9 % to 38 % of the pixels of each tile
// it shares differ; painting order alone stays below 0.2 %.
inline constexpr double kLostSheetShare = 0.01;
struct TileComparison {
    std::vector<std::string> onlyInOne;  // tile names present in one directory only
    double worstShare = 0.0;             // largest share of differing pixels in one tile
    std::string worstTile;
};
TileComparison CompareTiles(const std::string& directoryA, const std::string& directoryB);

}  // namespace georef::batch
