#include "reviewed_batch.hpp"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "corners/find_corners.hpp"
#include "geometry/corner_file.hpp"
#include "support/in_process.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/batch_tool.hpp"
#include "tools/config_tool.hpp"

namespace georef::workbench {

namespace fs = std::filesystem;

namespace {

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

void RunBatch(const std::string& scans, const std::string& out, const std::string& config) {
    test::RunInProcess(BatchMain, {"georef-batch", scans, out, std::to_string(kOutputDpi), "--config", config});
}

}  // namespace

ReviewedBatch::ReviewedBatch() {
    out = dir.File("out");
    reference = dir.File("reference");
    config = dir.File("config.bin");
    fs::create_directories(dir.File("scans"));
    fs::create_directories(dir.File("exact"));
    synthesis::DemoScanOptions options;
    options.dpi = 100.0;
    for (const char* sheet : {"40571", "40572"}) {
        const std::string scan = dir.File(std::string("scans/") + sheet + ".jpg");
        const synthesis::DemoScan drawn = synthesis::WriteDemoScan(std::stoi(sheet), scan, options);
        fs::copy_file(scan, dir.File(std::string("exact/") + sheet + ".jpg"));
        geometry::WriteCornerFile(dir.File(std::string("exact/") + sheet + ".txt"), drawn.corners,
                                  geometry::CornerPrecision::exact);
        geometry::CornerPoints given = drawn.corners;
        if (std::string(sheet) == kRefusedSheet) {
            exact = drawn.corners;
            scanHeight = drawn.height;
            given[0].x += 25.0;  // a misread lower left corner
        }
        geometry::WriteCornerFile(dir.File(std::string("scans/") + sheet + ".txt"), given,
                                  geometry::CornerPrecision::exact);
    }
    const test::ToolResult made =
        test::RunInProcess(tools::RunConfigTool, {"georef-config", "-o", config, "40571", "40572"});
    if (made.status != 0) {
        throw std::runtime_error("georef-config failed: " + made.err);
    }
    RunBatch(dir.File("scans"), out, config);
    RunBatch(dir.File("exact"), reference, config);
}

corners::PlanePoint ReviewedBatch::ExactPlane(int k) const {
    return corners::PlaneFromCorner(exact[static_cast<std::size_t>(k)], scanHeight);
}

ReviewProcess::ReviewProcess(const ReviewedBatch& batch) : ReviewProcess(batch.out, batch.config, batch.dir.Path()) {}

ReviewProcess::ReviewProcess(const std::string& outputDirectory, const std::string& config,
                             const std::string& workingDirectory) {
    m_child = std::make_unique<test::ChildProcess>(
        GEOREF_REVIEW_EXE, std::vector<std::string>{outputDirectory, "--config", config}, workingDirectory);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string said = m_child->OutputSoFar();
        const std::string::size_type at = said.find("http://127.0.0.1:");
        const std::string::size_type end = at == std::string::npos ? at : said.find('\n', at);
        if (end != std::string::npos) {
            m_address = said.substr(at, end - at);
            m_port = std::stoi(m_address.substr(17));
            m_token = m_address.substr(m_address.find("token=") + 6);
            return;
        }
        if (!m_child->Running()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("georef-review printed no address: " + m_child->Wait().err);
}

test::ProcessResult ReviewProcess::Stop(int signalNumber) {
    m_child->Signal(signalNumber);
    return m_child->Wait();
}

std::vector<std::string> TemporaryFilesUnder(const std::string& directory) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

}  // namespace georef::workbench
