#include "area.hpp"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/region_lock.hpp"
#include "support/in_process.hpp"
#include "synthesis/demo_scan.hpp"
#include "test_batch_fixture_key.hpp"
#include "tools/config_tool.hpp"

namespace georef::batch {

namespace fs = std::filesystem;

const Area& Area::Get() {
    static const Area area;
    return area;
}

Area::Area() : m_dir(GEOREF_BINARY_DIR "/tests/batch-area") {
    fs::create_directories(m_dir);
    // Whoever comes first makes the area; the others wait for it. The area
    // names what drew it, written last: an area drawn by other code (or not
    // finished) is drawn again.
    const std::optional<platform::RegionLock> lock = platform::RegionLock::Acquire(m_dir + "/.lock", 0);
    const std::string drawnBy = m_dir + "/drawn-by";
    if (!fs::exists(drawnBy) || test::ReadFileBytes(drawnBy) != GEOREF_FIXTURE_KEY) {
        fs::remove(drawnBy);
        fs::remove_all(ScanDir());
        fs::remove(Config());
        Make();
        test::WriteFileBytes(drawnBy, GEOREF_FIXTURE_KEY);
    }
}

void Area::Make() const {
    fs::create_directories(ScanDir());
    synthesis::DemoScanOptions options;
    options.dpi = 50.0;
    options.rotationDegrees = 0.3;
    for (const std::string& sheet : kSheets) {
        const synthesis::DemoScan scan = synthesis::WriteDemoScan(std::stoi(sheet), ScanDir() + "/" + sheet + ".jpg", options);
        geometry::WriteCornerFile(ScanDir() + "/" + sheet + ".txt", scan.corners, geometry::CornerPrecision::exact);
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

std::map<std::string, std::string> TileBytes(const std::string& directory) {
    std::map<std::string, std::string> tiles;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() == ".jpg") {
            tiles[entry.path().filename().string()] = test::ReadFileBytes(entry.path().string());
        }
    }
    return tiles;
}

}  // namespace georef::batch
