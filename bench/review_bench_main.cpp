// georef-review's targets on a 300 dpi sheet: the first request of a sheet
// (the scan read whole and the starting corners found), a corner crop and a
// map tile once the scan is open (the deepest level drawn from the tiles, a
// level above, and from the cache), 10 000 hostile requests over HTTP, and
// the memory of georef-review alone: a process of its own serving the sheet,
// its crops and map tiles, then a fix run at 300 dpi (its resident set and
// peak from /proc); there the sheet has no corner file, so its first request
// runs the corner finder. Prints milliseconds and MiB; asserts nothing.
//
//   georef-review-bench [WORKDIR]    (default: a fresh directory under /tmp)

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "corners/find_corners.hpp"
#include "geometry/corner_file.hpp"
#include "support/process.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/batch_tool.hpp"
#include "tools/config_tool.hpp"
#include "workbench/server.hpp"
#include "workbench/workbench.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// VmRSS and VmHWM of a process, MiB.
std::pair<double, double> Memory(const std::string& process = "self") {
    std::ifstream in("/proc/" + process + "/status");
    double rss = 0.0, peak = 0.0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) rss = std::stod(line.substr(6)) / 1024.0;
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stod(line.substr(6)) / 1024.0;
    }
    return {rss, peak};
}

int Run(std::vector<std::string> args, int (*tool)(int, const char* const*, std::ostream&, std::ostream&)) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = tool(static_cast<int>(argv.size()), argv.data(), out, err);
    if (status != 0) std::cerr << out.str() << err.str();
    return status;
}

int Batch(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return georef::tools::RunBatchTool(argc, argv, out, err, false);
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::cout << what << ": median " << ms[ms.size() / 2] << " ms, worst " << ms.back() << " ms over " << ms.size()
              << "\n";
}

// georef-review as a process of its own over OUTDIR: its memory while it
// serves a 300 dpi sheet, then while it runs a fix of it.
void MeasureServer(const std::string& dir, const georef::synthesis::DemoScan& drawn) {
    // Without a corner file the first request runs the corner finder.
    fs::rename(dir + "/scans/40571.txt", dir + "/scans/40571.txt.aside");
    georef::test::ChildProcess review(GEOREF_REVIEW_EXE, {dir + "/out", "--config", dir + "/config.bin"}, dir);
    std::string address;
    for (int wait = 0; wait < 600 && address.empty() && review.Running(); ++wait) {
        const std::string said = review.OutputSoFar();
        const std::string::size_type at = said.find("http://127.0.0.1:");
        if (at != std::string::npos && said.find('\n', at) != std::string::npos) {
            address = said.substr(at, said.find('\n', at) - at);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (address.empty()) {
        std::cerr << "georef-review printed no address\n";
        return;
    }
    const std::string pid = std::to_string(review.Pid());
    const int port = std::stoi(address.substr(17));
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(600, 0);
    const httplib::Headers headers = {{"Cookie", "georef_review=" + address.substr(address.find("token=") + 6)},
                                      {"X-Georef-Review", "1"}};
    const auto say = [&](const char* when) {
        const auto memory = Memory(pid);
        std::cout << "georef-review alone, " << when << ": " << memory.first << " MiB resident, peak " << memory.second
                  << " MiB\n";
    };
    say("started");
    Clock::time_point start = Clock::now();
    client.Get("/api/sheet/40571", headers);
    std::cout << "georef-review alone, first request of the sheet (scan read, corner finder run): " << Ms(start)
              << " ms\n";
    say("first request answered");
    client.Get("/api/sheet/40571/scan.jpg?max=1000", headers);
    for (int i = 0; i < 40; ++i) {
        client.Get(("/api/sheet/40571/crop.png?column=" + std::to_string(100 + 197 * i) + "&row=" +
                    std::to_string(150 + 151 * i) + "&size=96").c_str(),
                   headers);
    }
    const std::string area = client.Get("/api/area", headers)->body;
    const std::string::size_type at = area.find("\"deepestLevel\":");
    const int deepest = at == std::string::npos ? 0 : std::stoi(area.substr(at + 15));
    for (int level = 0; level <= deepest; ++level) {
        for (int i = 0; i < 24; ++i) {
            client.Get(("/tiles/" + std::to_string(level) + "/" + std::to_string(i % 6) + "/" + std::to_string(i / 6) +
                        ".jpg").c_str(),
                       headers);
        }
    }
    say("scan open, crops and map tiles served");
    std::string body = "{\"corners\": [";
    for (int k = 0; k < 4; ++k) {
        const georef::corners::PlanePoint p = georef::corners::PlaneFromCorner(drawn.corners[k], drawn.height);
        body += (k ? ", [" : "[") + std::to_string(p.column) + ", " + std::to_string(p.row) + "]";
    }
    body += "]}";
    start = Clock::now();
    const auto saved = client.Post("/api/sheet/40571/save", headers, body, "application/json");
    std::cout << "georef-review alone, save and run at 300 dpi: " << Ms(start) << " ms, "
              << (saved ? saved->body.substr(0, 40) : std::string("no answer")) << "\n";
    say("after a fix at 300 dpi");
    review.Signal(SIGTERM);
    review.Wait();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : (fs::temp_directory_path() / "georef-review-bench").string();
    fs::remove_all(dir);
    fs::create_directories(dir + "/scans");
    georef::synthesis::DemoScanOptions options;
    options.dpi = 300.0;
    options.density = true;
    const auto drawn = georef::synthesis::WriteDemoScan(40571, dir + "/scans/40571.jpg", options);
    georef::geometry::WriteCornerFile(dir + "/scans/40571.txt", drawn.corners, georef::geometry::CornerPrecision::exact);
    std::cout << "scan: " << drawn.width << " x " << drawn.height << " pixels at 300 dpi\n";
    Run({"georef-config", "-o", dir + "/config.bin", "40571"}, georef::tools::RunConfigTool);
    const Clock::time_point batchStart = Clock::now();
    Run({"georef-batch", dir + "/scans", dir + "/out", "300", "--config", dir + "/config.bin"}, Batch);
    std::cout << "batch at 300 dpi: " << Ms(batchStart) << " ms\n";

    georef::workbench::Workbench bench({dir + "/out", "", dir + "/config.bin"});
    Clock::time_point start = Clock::now();
    bench.SheetJson(40571);
    std::cout << "first request of the sheet (scan read, corners from its file): " << Ms(start) << " ms\n";

    std::vector<double> crops;
    for (int i = 0; i < 40; ++i) {
        start = Clock::now();
        bench.ScanCrop(40571, 100 + 97 * i, 200 + 61 * i, 96);
        crops.push_back(Ms(start));
    }
    Report("corner crop 96 px (PNG)", crops);
    int factor = 0;
    start = Clock::now();
    bench.ScanReduced(40571, 1000, factor);
    std::cout << "scan reduced to 1000 px: " << Ms(start) << " ms\n";

    const auto layout = bench.Tiles().Layout();
    std::vector<double> deepest, above, cached;
    for (int i = 0; i < 20; ++i) {
        start = Clock::now();
        bench.Tiles().Tile(layout->deepestLevel, 3 + i % 10, 3 + i / 2);
        deepest.push_back(Ms(start));
    }
    for (int i = 0; i < 8; ++i) {
        start = Clock::now();
        bench.Tiles().Tile(layout->deepestLevel - 2, i % 4, i / 4);
        above.push_back(Ms(start));
    }
    for (int i = 0; i < 20; ++i) {
        start = Clock::now();
        bench.Tiles().Tile(layout->deepestLevel, 3 + i % 10, 3 + i / 2);
        cached.push_back(Ms(start));
    }
    start = Clock::now();
    bench.Tiles().Tile(0, 0, 0);
    std::cout << "map tile, whole area (level 0): " << Ms(start) << " ms\n";
    Report("map tile, deepest level, drawn", deepest);
    Report("map tile, two levels up, drawn", above);
    Report("map tile, from the cache", cached);

    georef::workbench::Server server(bench, {});
    std::thread serving([&] { server.Run(); });
    httplib::Client client("127.0.0.1", server.Port());
    client.set_url_encode(false);
    const std::string cookie = "georef_review=" + server.Token();
    const std::vector<std::pair<std::string, bool>> hostile = {
        {"/api/area", false}, {"/review/..%2F..%2Fconfig.bin", true}, {"/api/sheet/40599", true},
        {"/api/sheet/40571/crop.png?column=../x&row=1&size=8", true}, {"/tiles/0/-1/0.jpg", true},
        {"/corners/..%2Fx.png", true}, {"/leaflet/../../etc/passwd", true}};
    start = Clock::now();
    int refused = 0;
    for (int i = 0; i < 10000; ++i) {
        const auto& r = hostile[static_cast<std::size_t>(i) % hostile.size()];
        httplib::Headers headers;
        if (r.second) headers.emplace("Cookie", cookie);
        if (i % 10 == 9) {
            headers.emplace("X-Georef-Review", "1");
            const auto answer = client.Post("/api/sheet/40571/check", headers, "{\"corners\": [[1, 2], [3", "application/json");
            refused += answer && answer->status >= 400 && answer->status < 500;
        } else {
            const auto answer = client.Get(r.first.c_str(), headers);
            refused += answer && answer->status >= 400 && answer->status < 500;
        }
    }
    const double hostileMs = Ms(start);
    std::cout << "10 000 hostile requests: " << hostileMs << " ms (" << hostileMs / 10000.0 << " ms each), " << refused
              << " refused with 4xx\n";
    server.Stop();
    serving.join();
    MeasureServer(dir, drawn);
    return 0;
}
