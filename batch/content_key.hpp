#pragma once
// What identifies an input by its content: a fast digest of a file's bytes
// (XXH3, 128 bits), and the file-system facts that let a batch trust a
// digest it took before without reading the file again.

#include <optional>
#include <string>

namespace georef::batch {

// XXH3-128 of the file's bytes as 32 hex digits; empty when it cannot be read.
std::string ContentDigest(const std::string& path);

// XXH3-128 of bytes, as ContentDigest gives it for a file holding them.
std::string BytesDigest(const std::string& bytes);

// The file's device, inode, size, modification and change times (ns), as
// one word; empty when it cannot be examined. The change time is the
// kernel's: any write to the file, or a rename of it, moves it, and no copying
// tool can set it back, so an unchanged word means unchanged bytes. Renaming
// a folder above the file leaves it as it was.
std::string ScanFileStat(const std::string& path);

// The digest of path, taken again only when its ScanFileStat differs from
// knownStat (knownDigest is then the digest of its bytes). Empty when the
// file cannot be read.
std::string DigestUnlessUnchanged(const std::string& path, const std::string& knownStat,
                                  const std::string& knownDigest);

// A digest of what georef reads from config.bin for the sheet: its first
// index entry's boundary and grid (values, not offsets). Empty when the file
// cannot be read, holds no such sheet or is damaged there: the run then
// says why.
std::string SheetRecordsDigest(const std::string& configFile, int sheet);

}  // namespace georef::batch
