// A batch journal that another program, a full disk or a person touched:
// any bytes. Loading it drops what does not parse; recording a sheet into it
// keeps every entry that loaded, with the new one, and the journal it writes
// loads again to the same entries.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "batch/journal.hpp"
#include "fuzz/fuzz_input.hpp"

namespace {

using georef::batch::Journal;
using georef::batch::JournalEntry;
using georef::fuzz::Fail;

constexpr int kSheet = 40571;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string directory = georef::fuzz::ScratchDirectory();
    georef::fuzz::WriteFileBytes(georef::fuzz::ScratchPath(georef::batch::kJournalFile), data, size);
    const Journal loaded = Journal::Load(directory);
    const int dpi = loaded.Dpi().value_or(300);
    try {
        Journal::Record(directory, dpi, kSheet, JournalEntry{"scan 1 corners 2", 4, 1.5});
    } catch (const std::exception& error) {
        Fail(std::string("a loaded journal could not be recorded into: ") + error.what());
    }
    const Journal again = Journal::Load(directory);
    const JournalEntry* entry = again.Find(kSheet);
    if (entry == nullptr || entry->fingerprint != "scan 1 corners 2" || entry->tilesWritten != 4) {
        Fail("the recorded sheet did not load again");
    }
    const std::size_t expected = loaded.Size() + (loaded.Find(kSheet) == nullptr ? 1 : 0);
    if (again.Size() != expected || again.Dpi() != std::optional<int>(dpi)) {
        Fail("recording one sheet changed the others or the dpi");
    }
    return 0;
}
