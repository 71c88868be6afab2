#pragma once
// What a caller of the run may learn of each tile while it is written: its
// rows as they are painted, and whether the tile file was replaced. Rows are
// told by the threads that paint them, right after painting, while they are
// still in the painting core's cache; Begin and Saved come from the thread
// that runs the tile loop, under the tile's lock. So a watcher that keeps
// something derived from a tile keeps it for exactly the bytes written.

#include <cstdint>
#include <string>

namespace georef::tiling {

class TileWatcher {
public:
    // The rows a painting thread tells together: few enough to be still in
    // its cache (a 300 dpi tile's 8 rows are 113 kB).
    static constexpr int kRowsTogether = 8;

    virtual ~TileWatcher() = default;

    // A tile of size x size pixels is about to be painted and encoded into
    // the file tileImage.
    virtual void Begin(const std::string& tileImage, int size) noexcept = 0;
    // Rows first .. end - 1 of the tile are final: (end - first) * size * 3
    // bytes of RGB from row `first` on, valid only during the call. Called
    // from several threads at once for ranges that do not overlap; each row
    // is told once, every range starts at a multiple of kRowsTogether and
    // holds that many rows, but for the tile's last. All calls for a tile
    // have returned before Saved.
    virtual void Rows(int first, int end, const std::uint8_t* rgb) noexcept = 0;
    // The tile file now holds the rows told (renamed into place). Not called
    // when the tile could not be written.
    virtual void Saved() noexcept = 0;
};

}  // namespace georef::tiling
