#include "batch/sheet_result.hpp"

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "batch/journal.hpp"
#include "platform/atomic_file.hpp"

namespace georef::batch {

namespace {

std::string Fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

}  // namespace

void WriteSummaryTable(const std::vector<SheetResult>& results, std::ostream& out) {
    out << "sheet  status   rms(m)  tiles  seconds  message\n";
    int done = 0;
    int skipped = 0;
    int failed = 0;
    for (const SheetResult& r : results) {
        const std::string rms = r.corners ? Fixed(r.corners->rmsMetres, 2) : "-";
        out << std::left << std::setw(6) << r.sheet << ' ' << std::setw(8) << StatusName(r.status) << std::right
            << std::setw(7) << rms << std::setw(7) << r.tilesWritten << std::setw(9) << Fixed(r.seconds, 1) << "  "
            << r.message << '\n';
        (r.status == SheetStatus::done ? done : r.status == SheetStatus::skipped ? skipped : failed) += 1;
    }
    out << results.size() << " sheets: " << done << " done, " << skipped << " skipped (unchanged), " << failed
        << " failed\n";
}

AreaCounts CountArea(const std::vector<SheetResult>& area) noexcept {
    AreaCounts counts;
    for (const SheetResult& r : area) {
        ++counts.sheets;
        (r.status == SheetStatus::done ? counts.done : r.status == SheetStatus::skipped ? counts.skipped : counts.failed) +=
            1;
        counts.earlier += r.earlier ? 1 : 0;
    }
    return counts;
}

void WriteAreaTotals(const std::vector<SheetResult>& area, const std::string& outputDirectory, std::ostream& out) {
    const AreaCounts counts = CountArea(area);
    out << "all sheets in " << outputDirectory << ": " << counts.sheets << " (" << counts.done << " done, "
        << counts.skipped << " skipped (unchanged), " << counts.failed << " failed; " << counts.earlier
        << " of them only in earlier batches)\n";
}

void WriteSummaryCsv(const std::vector<SheetResult>& results, const std::string& path) {
    std::ostringstream text;
    text << "sheet,status,rms_m,worst_m,scan_dpi,rotation_deg,tiles,seconds,message,scan,corner_file,log,seams,batch\n";
    for (const SheetResult& r : results) {
        text << r.sheet << ',' << StatusName(r.status) << ',';
        if (r.corners) {
            text << Fixed(r.corners->rmsMetres, 3) << ',' << Fixed(r.corners->worstMetres, 3) << ','
                 << Fixed(r.corners->dpi, 1) << ',' << Fixed(r.corners->rotationDegrees, 4) << ',';
        } else {
            text << ",,,,";
        }
        text << r.tilesWritten << ',' << Fixed(r.seconds, 2) << ',' << CsvField(r.message) << ','
             << CsvField(r.scan) << ',' << CsvField(r.cornerFile) << ',' << CsvField(r.logPath) << ','
             << r.seams << ',' << (r.earlier ? "earlier" : "this") << '\n';
    }
    // Under the batch lock, as every writer of the file: a temporary of it
    // found under that lock is a killed run's.
    const std::string directory = std::filesystem::path(path).parent_path().string();
    const std::optional<platform::RegionLock> lock = LockBatchFiles(directory.empty() ? "." : directory);
    platform::AtomicFile file(path);
    const std::string bytes = text.str();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    file.Commit();
}

}  // namespace georef::batch
