#pragma once
// The lock of one tile, shared by every run that writes into the same output
// directory: a run holds it from the world file, through the decision to
// open or create the tile, until the tile's replacement has been renamed into
// place. Two runs painting the same tile therefore take turns, and neither
// replaces the tile with a copy that lacks the other's sheet.
//
// One lock file per directory, kTileLockFile, holds one byte per tile; the
// byte of a tile is a function of its indices, so any number of processes,
// threads or machines agree on it without talking to each other.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/region_lock.hpp"

namespace georef::tiling {

inline constexpr const char* kTileLockFile = ".georef-tiles.lock";

// The byte of the tile whose top edge is tileX and east edge tileY (output
// metres, multiples of 10 000): distinct for every pair of tile indices in
// -262 144 .. 262 143, which covers every tile a run can name.
std::int64_t TileLockOffset(int tileX, int tileY) noexcept;

// Waits for the tile's lock in outputDirectory. Empty when the lock file
// cannot be created or locked there (a missing or read-only directory): the
// tile's own files cannot be written there either, and the tile loop reports
// that as before.
std::optional<platform::RegionLock> LockTile(const std::string& outputDirectory, int tileX, int tileY);

}  // namespace georef::tiling
