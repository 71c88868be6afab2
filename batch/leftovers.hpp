#pragma once
// Temporary files a killed run left in an output directory
// ("106_59.jpg.tmp-Ab3xYz", "georef-batch.journal.tmp-..."): removed under
// the lock their writers take, so that a file a live run (another shard, a
// georef run into the same directory) is writing is never touched.

#include <string>

namespace georef::batch {

// Removes the leftover temporaries of tiles and world files, each under its
// tile's lock, and of the journal under the batch lock. Returns how many
// went. Throws nothing; what cannot be removed stays.
int RemoveLeftoverTemporaries(const std::string& outputDirectory) noexcept;

}  // namespace georef::batch
