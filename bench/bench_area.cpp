#include "bench/bench_area.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bench/jpeg_codec.hpp"
#include "geometry/corner_file.hpp"
#include "platform/stdio_file.hpp"
#include "tools/config_tool.hpp"

namespace georef::bench {

synthesis::RealisticScan DrawSheet(int sheet, const std::string& scanPath, const std::string& cornerPath,
                                   const synthesis::RealisticScanOptions& options) {
    const synthesis::RealisticScan drawn = synthesis::WriteRealisticScan(sheet, scanPath, options);
    geometry::WriteCornerFile(cornerPath, drawn.corners, geometry::CornerPrecision::exact);
    return drawn;
}

synthesis::DemoScan DrawSheet(int sheet, const std::string& scanPath, const std::string& cornerPath,
                              const synthesis::DemoScanOptions& options) {
    const synthesis::DemoScan drawn = synthesis::WriteDemoScan(sheet, scanPath, options);
    geometry::WriteCornerFile(cornerPath, drawn.corners, geometry::CornerPrecision::exact);
    return drawn;
}

void WriteAreaConfig(const std::vector<std::string>& sheets, const std::string& path) {
    std::vector<std::string> args = {"georef-config", "-o", path};
    args.insert(args.end(), sheets.begin(), sheets.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    if (tools::RunConfigTool(static_cast<int>(argv.size()), argv.data(), out, err) != 0) {
        throw std::runtime_error("georef-config failed: " + err.str());
    }
}

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, const std::string& directory) {
    std::vector<std::string> strings = {program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(directory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

int WaitProgram(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double ChildrenCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::map<std::string, std::string> SummaryStatuses(const std::string& outputDirectory) {
    std::ifstream in(outputDirectory + "/summary.csv");
    std::map<std::string, std::string> statuses;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::string::size_type comma = line.find(',');
        statuses[line.substr(0, comma)] = line.substr(comma + 1, line.find(',', comma + 1) - comma - 1);
    }
    return statuses;
}

std::vector<std::uint8_t> DecodeJpeg(const std::string& path, int& width, int& height) {
    platform::StdioFile file = platform::OpenStdioFile(path, "rb");
    if (!file) {
        throw std::runtime_error("cannot open " + path);
    }
    ReadJpegSize(file.get(), width, height);
    std::rewind(file.get());
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    DecodeRgb(file.get(), pixels.data(), width, height);
    return pixels;
}

std::optional<double> ShareOfPixelsOff(const std::string& a, const std::string& b, int levels) {
    int wa = 0, ha = 0, wb = 0, hb = 0;
    const std::vector<std::uint8_t> pa = DecodeJpeg(a, wa, ha);
    const std::vector<std::uint8_t> pb = DecodeJpeg(b, wb, hb);
    if (pa.size() != pb.size()) {
        return std::nullopt;
    }
    std::size_t differing = 0;
    for (std::size_t i = 0; i < pa.size(); i += 3) {
        for (std::size_t c = 0; c < 3; ++c) {
            if (std::abs(pa[i + c] - pb[i + c]) > levels) {
                ++differing;
                break;
            }
        }
    }
    return static_cast<double>(differing) / static_cast<double>(pa.size() / 3);
}

}  // namespace georef::bench
