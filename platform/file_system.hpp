#pragma once
// Queries on the file system that the run needs: does a name exist, is it a
// directory, how many bytes does a file hold. None of them throws.

#include <cstdint>
#include <optional>
#include <string>

namespace georef::platform {

// True when something (file, directory, other) exists under the name.
bool Exists(const std::string& name) noexcept;

// True when the name exists and is a directory (links are followed).
bool IsDirectory(const std::string& name) noexcept;

// True when the name exists and may not be written: this process lacks write
// permission, or the file grants it to no one (which stops root as well: a
// file made read-only for everyone is meant to stay). A replacement by rename
// would not ask, so writers that replace files check this first.
bool IsWriteProtected(const std::string& name) noexcept;

// Size in bytes of the regular file under the name; empty when the name does
// not exist, is not a regular file or cannot be queried.
std::optional<std::int64_t> FileSize(const std::string& name) noexcept;

// The file's identity and state as text: device, inode, size, and the
// times of its last change of content and of status, to the nanosecond the
// file system keeps ("dev:inode:size:mtime:ctime"). Any replacement (a new
// file renamed over it) or any write changes it. Empty when the name cannot
// be looked at.
std::string FileState(const std::string& name);

// "dir" + '/' + "name": the separator is added only when dir does not already
// end in one, and an empty dir gives the name alone.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace georef::platform
