#pragma once
// The batch journal in the output directory: the latest result of every
// sheet any batch ran into it, at which dpi, with the content key of the
// inputs a finished sheet was made from. A batch skips a finished sheet whose
// key is unchanged. The journal is replaced atomically, under a kernel lock,
// after every sheet, so a batch killed at any moment (or several shards
// sharing the directory) leave a journal that is true.
//
// Format: a header line, "dpi N", once seams were measured "seam-threshold
// METRES" (the offset beyond which the last measurement called a seam
// suspect), then one line per sheet of tab-separated fields, "sheet" and its
// number first, then name and value pairs; a value has its backslashes,
// tabs and line ends written as \\, \t, \n and \r. Names not known are
// ignored, so that a later program can add some.
//
// The scan's and the corner file's paths are recorded absolute, so that a
// program reading the journal from any directory finds them; journals of
// earlier batches hold them as the batch was given them, relative to where
// it ran (ResolveRecordedPath).

#include <map>
#include <optional>
#include <string>

#include "batch/sheet_result.hpp"
#include "platform/region_lock.hpp"

namespace georef::batch {

inline constexpr const char* kJournalFile = "georef-batch.journal";

struct JournalEntry {
    std::string fingerprint;  // content key of a finished sheet's inputs; empty when it failed
    int tilesWritten = 0;
    double seconds = 0.0;
    SheetStatus status = SheetStatus::done;  // done or failed: the latest run's outcome
    std::string message;                     // why it failed
    std::string scan;                        // absolute (relative in earlier journals)
    std::string cornerFile;                  // absolute (relative in earlier journals); may be empty
    std::optional<CornerFigures> corners;
    std::string scanStat;    // ScanFileStat of the scan when its digest was taken
    std::string scanDigest;  // its ContentDigest
};

class Journal {
public:
    // The journal of outputDirectory; empty when there is none. Lines that do
    // not parse are dropped (their sheets are simply run again); a dpi line
    // that does not parse gives no dpi.
    static Journal Load(const std::string& outputDirectory);

    std::optional<int> Dpi() const noexcept { return m_dpi; }
    // The threshold the seams were last judged with, metres; none before
    // seams were measured.
    std::optional<double> SeamThresholdMetres() const noexcept { return m_seamThresholdMetres; }
    const JournalEntry* Find(int sheet) const;
    std::size_t Size() const noexcept { return m_entries.size(); }
    const std::map<int, JournalEntry>& Entries() const noexcept { return m_entries; }

    // Re-reads the journal under the directory's batch lock, sets (or with an
    // empty entry removes) the sheet's entry, records dpi and replaces the
    // file. The entry's relative paths are recorded absolute, from the
    // current directory. Throws std::runtime_error when the journal cannot
    // be written.
    static void Record(const std::string& outputDirectory, int dpi, int sheet,
                       const std::optional<JournalEntry>& entry);

    // Records, the same way, the threshold seams were judged with (metres,
    // above 0), for a later measurement of some of them (georef-review's
    // after a fix). Nothing when no batch has run into the directory. Throws
    // std::runtime_error when the journal cannot be written.
    static void RecordSeamThreshold(const std::string& outputDirectory, double metres);

private:
    // Replaces the journal file with this journal's dpi, threshold and entries.
    void Write(const std::string& outputDirectory) const;

    std::optional<int> m_dpi;
    std::optional<double> m_seamThresholdMetres;
    std::map<int, JournalEntry> m_entries;
};

// A scan's or corner file's path as the journal of outputDirectory holds it,
// made one that opens from the current directory. A relative path comes from
// an earlier batch and is relative to where that batch ran, which the journal
// does not say: it is taken from the current directory when it names a file
// there, else from outputDirectory's parent (the batch run beside its output
// directory) when it names one there, else left as it is.
std::string ResolveRecordedPath(const std::string& path, const std::string& outputDirectory);

// Held while a batch reads and replaces files that every batch (or shard)
// writing into the directory shares: the journal, summary.csv and the
// mosaic. Empty when the directory takes no lock file.
std::optional<platform::RegionLock> LockBatchFiles(const std::string& outputDirectory);

// Held while a batch writes one sheet's files in OUTDIR/corners/ (the found
// corner file, the picture, the key), so that two batches never write them
// at once and a leftover temporary of them can be told from one being
// written. Another byte of the same lock file; empty like LockBatchFiles.
std::optional<platform::RegionLock> LockSheetFiles(const std::string& outputDirectory, int sheet);

// What a finished sheet's tiles depend on, by content: the scan's bytes
// (its ContentDigest), the corner file's bytes, the output dpi and the
// sheet's own records in config.bin (SheetRecordsDigest). Where the files
// lie and what else config.bin holds do not enter it.
std::string Fingerprint(const std::string& scanDigest, const std::string& cornerDigest, int dpi,
                        const std::string& sheetRecordsDigest);

// The key journals before content keys wrote (the scan's path, size and
// time, the whole config.bin's digest as a 64-bit FNV-1a); a sheet finished
// under it is recognised once and recorded again under Fingerprint.
std::string LegacyFingerprint(const std::string& scan, const std::string& cornerFile, int dpi,
                              const std::string& configFile);

}  // namespace georef::batch
