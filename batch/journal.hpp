#pragma once
// The batch journal in the output directory: which sheets are finished, at
// which dpi, with a fingerprint of the inputs each was made from. A batch
// skips a finished sheet whose fingerprint is unchanged. The journal is
// replaced atomically, under a kernel lock, after every finished sheet, so a
// batch killed at any moment (or several shards sharing the directory) leave
// a journal that is true.

#include <map>
#include <optional>
#include <string>

#include "platform/region_lock.hpp"

namespace georef::batch {

inline constexpr const char* kJournalFile = "georef-batch.journal";

struct JournalEntry {
    std::string fingerprint;
    int tilesWritten = 0;
    double seconds = 0.0;
};

class Journal {
public:
    // The journal of outputDirectory; empty when there is none. Lines that do
    // not parse are dropped (their sheets are simply run again); a dpi line
    // that does not parse gives no dpi.
    static Journal Load(const std::string& outputDirectory);

    std::optional<int> Dpi() const noexcept { return m_dpi; }
    const JournalEntry* Find(int sheet) const;
    std::size_t Size() const noexcept { return m_entries.size(); }

    // Re-reads the journal under the directory's batch lock, sets (or with an
    // empty entry removes) the sheet's entry, records dpi and replaces the
    // file. Throws std::runtime_error when the journal cannot be written.
    static void Record(const std::string& outputDirectory, int dpi, int sheet,
                       const std::optional<JournalEntry>& entry);

private:
    std::optional<int> m_dpi;
    std::map<int, JournalEntry> m_entries;
};

// Held while a batch reads and replaces files that every batch (or shard)
// writing into the directory shares: the journal and the mosaic. Empty when
// the directory takes no lock file.
std::optional<platform::RegionLock> LockBatchFiles(const std::string& outputDirectory);

// 64-bit FNV-1a of a file's bytes as 16 hex digits; empty when it cannot be
// read.
std::string FileDigest(const std::string& path);

// What a sheet's result depends on: the scan (path, size, modification time),
// the corners (the corner file's bytes), the dpi and config.bin (its digest).
std::string Fingerprint(const std::string& scan, const std::string& cornerFile, int dpi,
                        const std::string& configDigest);

}  // namespace georef::batch
