#include "published_area.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "batch/journal.hpp"
#include "support/review/sample_batch.hpp"
#include "support/temp_dir.hpp"

namespace georef::test {

namespace fs = std::filesystem;

const PublishedArea& SharedArea() {
    static std::unique_ptr<TempDir> directory;
    static PublishedArea area;
    if (directory) {
        return area;
    }
    directory = std::make_unique<TempDir>();
    const SampleBatch sample = MakeSampleBatch(directory->Path(), {40571, 40572}, {}, {40573});
    area.directory = directory->Path();
    area.tiles = directory->File("tiles");
    area.config = sample.configPath;
    // The batch's record of the two sheets as a batch run from OUTDIR's
    // parent wrote it before journals held absolute paths: relative to it.
    for (const char* sheet : {"40571", "40572"}) {
        batch::JournalEntry entry;
        entry.fingerprint = std::string("key-") + sheet;
        entry.tilesWritten = 4;
        entry.status = batch::SheetStatus::done;
        entry.scan = directory->File(std::string("scan-") + sheet + ".tif");
        entry.cornerFile = directory->File(std::string("corners-") + sheet + ".txt");
        batch::Journal::Record(area.tiles, 60, std::stoi(sheet), entry);
    }
    // A sheet whose latest run failed is not published.
    batch::JournalEntry failed;
    failed.status = batch::SheetStatus::failed;
    failed.message = "no corners";
    failed.scan = directory->File("scan-40573.tif");
    batch::Journal::Record(area.tiles, 60, 40573, failed);
    const std::string journalPath = area.tiles + "/" + batch::kJournalFile;
    std::string journal;
    {
        std::ifstream in(journalPath);
        journal.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (std::string::size_type at; (at = journal.find(directory->Path() + "/")) != std::string::npos;) {
        journal.erase(at, directory->Path().size() + 1);
    }
    std::ofstream(journalPath) << journal;
    return area;
}

void CopyTiles(const PublishedArea& area, const std::string& target) {
    fs::create_directories(target);
    for (const fs::directory_entry& entry : fs::directory_iterator(area.tiles)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), fs::path(target) / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
        }
    }
}

}  // namespace georef::test
