#pragma once
// Temporary files a killed run left in an output directory
// ("106_59.jpg.tmp-Ab3xYz", "georef-batch.journal.tmp-..."): removed under
// the lock their writers take, so that a file a live run (another shard, a
// georef run into the same directory) is writing is never touched.

#include <string>

namespace georef::batch {

// Removes the leftover temporaries of tiles and world files, each under its
// tile's lock; of the journal, summary.csv (and a shard's summary) and
// mosaic.vrt under the batch lock; of a sheet's found corner file, picture
// and key in OUTDIR/corners/ under the sheet's lock; and of hand-made corner
// files (OUTDIR/corners/hand/, whose writers take no lock) those last
// written before this process started. Only names of the form
// TARGET.tmp-XXXXXX of those targets are touched, never another file.
// Returns how many went. Throws nothing; what cannot be removed stays.
int RemoveLeftoverTemporaries(const std::string& outputDirectory) noexcept;

}  // namespace georef::batch
