#include "batch/journal.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

constexpr const char* kHeader = "georef-batch journal";
constexpr const char* kBatchLockFile = ".georef-batch.lock";

std::string Hex64(std::uint64_t value) {
    std::ostringstream text;
    text << std::hex << std::setw(16) << std::setfill('0') << value;
    return text.str();
}

// Keeps a fingerprint on one line whatever the file names hold.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = '?';
        }
    }
    return text;
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
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "dpi") {
            int dpi = 0;
            if (fields >> dpi) {
                journal.m_dpi = dpi;
            }
            continue;
        }
        int sheet = 0;
        JournalEntry entry;
        std::string tiles;
        std::string seconds;
        std::string fingerprint;
        if (word != "sheet" || !(fields >> sheet >> tiles >> entry.tilesWritten >> seconds >> entry.seconds >>
                                 fingerprint) ||
            tiles != "tiles" || seconds != "seconds" || fingerprint != "fingerprint") {
            continue;
        }
        std::getline(fields >> std::ws, entry.fingerprint);
        journal.m_entries[sheet] = entry;
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
        journal.m_entries[sheet] = *entry;
    } else {
        journal.m_entries.erase(sheet);
    }
    std::ostringstream text;
    text << kHeader << '\n' << "dpi " << dpi << '\n';
    for (const auto& [number, item] : journal.m_entries) {
        text << "sheet " << number << " tiles " << item.tilesWritten << " seconds " << std::fixed
             << std::setprecision(2) << item.seconds << " fingerprint " << OneLine(item.fingerprint) << '\n';
    }
    platform::AtomicFile file(platform::JoinPath(outputDirectory, kJournalFile));
    const std::string bytes = text.str();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        throw std::runtime_error("cannot write the journal in " + outputDirectory);
    }
    file.Commit();
}

std::optional<platform::RegionLock> LockBatchFiles(const std::string& outputDirectory) {
    return platform::RegionLock::Acquire(platform::JoinPath(outputDirectory, kBatchLockFile), 0);
}

std::string FileDigest(const std::string& path) {
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
    return Hex64(hash);
}

std::string Fingerprint(const std::string& scan, const std::string& cornerFile, int dpi,
                        const std::string& configDigest) {
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
    text << " corners " << FileDigest(cornerFile) << " dpi " << dpi << " config " << configDigest;
    return OneLine(text.str());
}

}  // namespace georef::batch
