#include "area.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "platform/region_lock.hpp"
#include "support/in_process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/config_tool.hpp"

namespace georef::batch {

namespace fs = std::filesystem;

const Area& Area::Get() {
    static const Area area;
    return area;
}

Area::Area() : m_dir(GEOREF_BINARY_DIR "/tests/batch-area") {
    fs::create_directories(m_dir);
    // Whoever comes first makes the area; the others wait for it.
    const std::optional<platform::RegionLock> lock = platform::RegionLock::Acquire(m_dir + "/.lock", 0);
    if (!fs::exists(m_dir + "/complete")) {
        Make();
        test::WriteFileBytes(m_dir + "/complete", "");
    }
}

void Area::Make() const {
    fs::create_directories(ScanDir());
    synthesis::DemoScanOptions options;
    options.dpi = 50.0;
    options.rotationDegrees = 0.3;
    for (const std::string& sheet : kSheets) {
        const synthesis::DemoScan scan = synthesis::WriteDemoScan(std::stoi(sheet), ScanDir() + "/" + sheet + ".jpg", options);
        synthesis::WriteCornerFile(ScanDir() + "/" + sheet + ".txt", scan.corners);
    }
    std::vector<std::string> args = {"georef-config", "-o", Config()};
    args.insert(args.end(), kSheets.begin(), kSheets.end());
    const test::ToolResult config = test::RunInProcess(tools::RunConfigTool, args);
    if (config.status != 0) {
        throw std::runtime_error("georef-config failed: " + config.err);
    }
}

void Area::CopyScansTo(const std::string& directory) const {
    fs::create_directories(directory);
    fs::copy(ScanDir(), directory, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void RunSequentially(const std::string& outputDirectory) {
    const Area& area = Area::Get();
    fs::create_directories(outputDirectory);
    for (const std::string& sheet : kSheets) {
        const test::ProcessResult run =
            test::RunGeoref({sheet, area.ScanDir() + "/" + sheet + ".txt", area.ScanDir() + "/" + sheet + ".jpg",
                             outputDirectory, std::to_string(kOutputDpi)},
                            area.Dir());
        if (run.exitStatus != 0) {
            throw std::runtime_error("georef " + sheet + " failed: " + run.out);
        }
    }
}

TileComparison CompareTiles(const std::string& directoryA, const std::string& directoryB) {
    const auto tilesOf = [](const std::string& directory) {
        std::map<std::string, std::string> tiles;
        for (const auto& entry : fs::directory_iterator(directory)) {
            if (entry.path().extension() == ".jpg") {
                tiles[entry.path().filename().string()] = entry.path().string();
            }
        }
        return tiles;
    };
    const std::map<std::string, std::string> a = tilesOf(directoryA);
    const std::map<std::string, std::string> b = tilesOf(directoryB);
    TileComparison comparison;
    for (const auto& [name, path] : a) {
        if (b.count(name) == 0) {
            comparison.onlyInOne.push_back(name);
            continue;
        }
        const test::JpegImage imageA = test::ReadJpeg(path);
        const test::JpegImage imageB = test::ReadJpeg(b.at(name));
        if (imageA.rgb.size() != imageB.rgb.size()) {
            comparison.onlyInOne.push_back(name + " (sizes differ)");
            continue;
        }
        std::size_t differing = 0;
        for (std::size_t i = 0; i + 2 < imageA.rgb.size(); i += 3) {
            for (std::size_t c = 0; c < 3; ++c) {
                if (std::abs(imageA.rgb[i + c] - imageB.rgb[i + c]) > kDifferentLevels) {
                    ++differing;
                    break;
                }
            }
        }
        const double share = static_cast<double>(differing) / static_cast<double>(imageA.rgb.size() / 3);
        if (share >= comparison.worstShare) {
            comparison.worstShare = share;
            comparison.worstTile = name;
        }
    }
    for (const auto& [name, path] : b) {
        if (a.count(name) == 0) {
            comparison.onlyInOne.push_back(name);
        }
    }
    return comparison;
}

}  // namespace georef::batch
