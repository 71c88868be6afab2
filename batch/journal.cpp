#include "batch/journal.hpp"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

constexpr const char* kHeader = "georef-batch journal";
constexpr const char* kBatchLockFile = ".georef-batch.lock";
constexpr const char* kSeamThresholdWord = "seam-threshold ";

// The shortest text that reads back as value ("25", "12.5").
std::string ShortestText(double value) {
    char text[32];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    return text;
}

std::string Escape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        plain += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return plain;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::string Fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

// A whole or decimal number in full, or empty.
std::optional<double> Number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// A line of a journal before content keys: "sheet N tiles T seconds S
// fingerprint TEXT", blank-separated.
bool ParseLegacyLine(const std::string& line, int& sheet, JournalEntry& entry) {
    std::istringstream fields(line);
    std::string word;
    std::string tiles;
    std::string seconds;
    std::string fingerprint;
    if (!(fields >> word >> sheet >> tiles >> entry.tilesWritten >> seconds >> entry.seconds >> fingerprint) ||
        word != "sheet" || tiles != "tiles" || seconds != "seconds" || fingerprint != "fingerprint") {
        return false;
    }
    std::getline(fields >> std::ws, entry.fingerprint);
    return sheet >= 0 && sheet <= 99999 && !entry.fingerprint.empty();
}

// A line of tab-separated fields: "sheet", N, then name and value pairs.
bool ParseLine(const std::string& line, int& sheet, JournalEntry& entry) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() < 2 || fields.size() % 2 != 0 || fields[0] != "sheet") {
        return false;
    }
    const std::optional<double> number = Number(fields[1]);
    if (!number || *number < 0 || *number > 99999 || *number != static_cast<int>(*number)) {
        return false;
    }
    sheet = static_cast<int>(*number);
    CornerFigures figures;
    int figureCount = 0;
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
        const std::string& name = fields[i];
        const std::string value = Unescape(fields[i + 1]);
        const std::optional<double> numeric = Number(value);
        if (name == "status") {
            if (value != "done" && value != "failed") {
                return false;
            }
            entry.status = value == "done" ? SheetStatus::done : SheetStatus::failed;
        } else if (name == "fingerprint") {
            entry.fingerprint = value;
        } else if (name == "tiles" && numeric && *numeric >= 0 && *numeric < 1e9) {
            entry.tilesWritten = static_cast<int>(*numeric);
        } else if (name == "seconds" && numeric) {
            entry.seconds = *numeric;
        } else if (name == "message") {
            entry.message = value;
        } else if (name == "scan") {
            entry.scan = value;
        } else if (name == "corner_file") {
            entry.cornerFile = value;
        } else if (name == "scan_stat") {
            entry.scanStat = value;
        } else if (name == "scan_digest") {
            entry.scanDigest = value;
        } else if (numeric && (name == "rms_m" || name == "worst_m" || name == "scan_dpi" || name == "rotation_deg")) {
            (name == "rms_m"     ? figures.rmsMetres
             : name == "worst_m" ? figures.worstMetres
             : name == "scan_dpi" ? figures.dpi
                                  : figures.rotationDegrees) = *numeric;
            ++figureCount;
        }
    }
    if (figureCount == 4) {
        entry.corners = figures;
    }
    // A finished sheet without its key cannot be trusted as finished.
    return entry.status == SheetStatus::failed || !entry.fingerprint.empty();
}

std::string FormatLine(int sheet, const JournalEntry& entry) {
    std::string line = "sheet\t" + std::to_string(sheet);
    const auto add = [&line](const char* name, const std::string& value) {
        line += std::string("\t") + name + "\t" + Escape(value);
    };
    add("status", entry.status == SheetStatus::done ? "done" : "failed");
    add("tiles", std::to_string(entry.tilesWritten));
    add("seconds", Fixed(entry.seconds, 2));
    if (entry.corners) {
        add("rms_m", Fixed(entry.corners->rmsMetres, 3));
        add("worst_m", Fixed(entry.corners->worstMetres, 3));
        add("scan_dpi", Fixed(entry.corners->dpi, 1));
        add("rotation_deg", Fixed(entry.corners->rotationDegrees, 4));
    }
    add("fingerprint", entry.fingerprint);
    add("scan", entry.scan);
    add("corner_file", entry.cornerFile);
    add("scan_stat", entry.scanStat);
    add("scan_digest", entry.scanDigest);
    add("message", entry.message);
    return line + '\n';
}

// 64-bit FNV-1a of a file's bytes as 16 hex digits, as journals before
// content keys held it; empty when it cannot be read.
std::string Fnv1aDigest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return {};
    }
    std::uint64_t hash = 14695981039346656037ull;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            hash ^= static_cast<unsigned char>(buffer[i]);
            hash *= 1099511628211ull;
        }
    }
    std::ostringstream text;
    text << std::hex << std::setw(16) << std::setfill('0') << hash;
    return text.str();
}

// The path from the current directory, absolute; as it is when it is empty
// or the current directory cannot be read.
std::string AbsolutePath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

}  // namespace

Journal Journal::Load(const std::string& outputDirectory) {
    Journal journal;
    std::ifstream in(platform::JoinPath(outputDirectory, kJournalFile));
    std::string line;
    if (!in.is_open() || !std::getline(in, line) || line != kHeader) {
        return journal;
    }
    while (std::getline(in, line)) {
        if (line.rfind("dpi ", 0) == 0) {
            std::istringstream fields(line.substr(4));
            int dpi = 0;
            if (fields >> dpi) {
                journal.m_dpi = dpi;
            }
            continue;
        }
        if (line.rfind(kSeamThresholdWord, 0) == 0) {
            const std::string text = line.substr(std::char_traits<char>::length(kSeamThresholdWord));
            char* end = nullptr;
            const double metres = std::strtod(text.c_str(), &end);
            if (!text.empty() && *end == '\0' && std::isfinite(metres) && metres > 0) {
                journal.m_seamThresholdMetres = metres;
            }
            continue;
        }
        int sheet = 0;
        JournalEntry entry;
        const bool parsed = line.find('\t') == std::string::npos ? ParseLegacyLine(line, sheet, entry)
                                                                 : ParseLine(line, sheet, entry);
        if (parsed) {
            journal.m_entries[sheet] = entry;
        }
    }
    return journal;
}

const JournalEntry* Journal::Find(int sheet) const {
    const auto it = m_entries.find(sheet);
    return it == m_entries.end() ? nullptr : &it->second;
}

void Journal::Record(const std::string& outputDirectory, int dpi, int sheet,
                     const std::optional<JournalEntry>& entry) {
    const std::optional<platform::RegionLock> lock = LockBatchFiles(outputDirectory);
    Journal journal = Load(outputDirectory);
    if (entry) {
        JournalEntry recorded = *entry;
        recorded.scan = AbsolutePath(recorded.scan);
        recorded.cornerFile = AbsolutePath(recorded.cornerFile);
        journal.m_entries[sheet] = recorded;
    } else {
        journal.m_entries.erase(sheet);
    }
    journal.m_dpi = dpi;
    journal.Write(outputDirectory);
}

void Journal::RecordSeamThreshold(const std::string& outputDirectory, double metres) {
    const std::optional<platform::RegionLock> lock = LockBatchFiles(outputDirectory);
    Journal journal = Load(outputDirectory);
    if (!journal.m_dpi || journal.m_seamThresholdMetres == metres) {
        return;
    }
    journal.m_seamThresholdMetres = metres;
    journal.Write(outputDirectory);
}

void Journal::Write(const std::string& outputDirectory) const {
    std::string bytes = std::string(kHeader) + '\n' + "dpi " + std::to_string(m_dpi.value_or(0)) + '\n';
    if (m_seamThresholdMetres) {
        bytes += kSeamThresholdWord + ShortestText(*m_seamThresholdMetres) + '\n';
    }
    for (const auto& [number, item] : m_entries) {
        bytes += FormatLine(number, item);
    }
    platform::AtomicFile file(platform::JoinPath(outputDirectory, kJournalFile));
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        throw std::runtime_error("cannot write the journal in " + outputDirectory);
    }
    file.Commit();
}

std::string ResolveRecordedPath(const std::string& path, const std::string& outputDirectory) {
    if (path.empty() || std::filesystem::path(path).is_absolute() || platform::Exists(path)) {
        return path;
    }
    const std::filesystem::path beside = std::filesystem::path(outputDirectory).parent_path() / path;
    return platform::Exists(beside.string()) ? beside.lexically_normal().string() : path;
}

std::optional<platform::RegionLock> LockBatchFiles(const std::string& outputDirectory) {
    return platform::RegionLock::Acquire(platform::JoinPath(outputDirectory, kBatchLockFile), 0);
}

std::optional<platform::RegionLock> LockSheetFiles(const std::string& outputDirectory, int sheet) {
    // Byte 0 is the batch files'; a sheet's is 1 + its number.
    return platform::RegionLock::Acquire(platform::JoinPath(outputDirectory, kBatchLockFile), 1 + std::int64_t{sheet});
}

std::string Fingerprint(const std::string& scanDigest, const std::string& cornerDigest, int dpi,
                        const std::string& sheetRecordsDigest) {
    return "scan " + scanDigest + " corners " + cornerDigest + " dpi " + std::to_string(dpi) + " sheet " +
           sheetRecordsDigest;
}

std::string LegacyFingerprint(const std::string& scan, const std::string& cornerFile, int dpi,
                              const std::string& configFile) {
    struct stat info {};
    std::ostringstream text;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(scan, error).lexically_normal();
    text << "scan " << (error ? scan : absolute.string());
    if (::stat(scan.c_str(), &info) == 0) {
        text << " size " << info.st_size << " mtime " << info.st_mtim.tv_sec << '.' << std::setw(9)
             << std::setfill('0') << info.st_mtim.tv_nsec << std::setfill(' ');
    } else {
        text << " missing";
    }
    text << " corners " << Fnv1aDigest(cornerFile) << " dpi " << dpi << " config " << Fnv1aDigest(configFile);
    std::string line = text.str();
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = '?';
        }
    }
    return line;
}

}  // namespace georef::batch
