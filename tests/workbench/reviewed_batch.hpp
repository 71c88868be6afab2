#pragma once
// A batch for georef-review's tests, made with the project's own code: two
// neighbouring sheets drawn as demo scans at 100 dpi, config.bin written by
// the config tool, and georef-batch run into out/ with a corner file beside
// each scan. Sheet 40571's is exact; in 40572's the lower left corner is
// 25 px off, so the batch refuses it. reference/ holds the tiles the exact
// corners make. georef-review runs as a process of its own over out/.

#include <memory>
#include <string>

#include "corners/frame.hpp"
#include "geometry/corner_fit.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace georef::workbench {

inline constexpr int kOutputDpi = 40;
inline constexpr const char* kRefusedSheet = "40572";

struct ReviewedBatch {
    test::TempDir dir;
    std::string out;         // the batch's output directory
    std::string reference;   // tiles of both sheets from their exact corners
    std::string config;
    geometry::CornerPoints exact;  // 40572's drawn corners, image frame
    int scanHeight = 0;            // of 40572's scan, pixels

    ReviewedBatch();
    // Where the drawn corner k lies in the scan's plane frame.
    corners::PlanePoint ExactPlane(int k) const;
};

// georef-review over a batch, started and its address read.
class ReviewProcess {
public:
    explicit ReviewProcess(const ReviewedBatch& batch);
    // Over outputDirectory with the transformation file config, started in
    // workingDirectory.
    ReviewProcess(const std::string& outputDirectory, const std::string& config, const std::string& workingDirectory);
    const std::string& Address() const noexcept { return m_address; }  // with ?token=
    int Port() const noexcept { return m_port; }
    const std::string& Token() const noexcept { return m_token; }
    // SIGTERM, then the process's end.
    test::ProcessResult Stop(int signalNumber);
    bool Running() const { return m_child->Running(); }

private:
    std::unique_ptr<test::ChildProcess> m_child;
    std::string m_address;
    std::string m_token;
    int m_port = 0;
};

// Files named like a temporary file of the program (NAME.tmp-XXXXXX) under directory.
std::vector<std::string> TemporaryFilesUnder(const std::string& directory);

}  // namespace georef::workbench
