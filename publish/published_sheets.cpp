#include "publish/published_sheets.hpp"

#include <filesystem>

#include "batch/journal.hpp"
#include "platform/file_system.hpp"
#include "publish/publish_error.hpp"

namespace georef::publish {

std::vector<PublishedSheet> ReadPublishedSheets(const std::string& outputDirectory) {
    const batch::Journal journal = batch::Journal::Load(outputDirectory);
    std::vector<PublishedSheet> sheets;
    for (const auto& [sheet, entry] : journal.Entries()) {
        if (entry.status != batch::SheetStatus::done || entry.fingerprint.empty()) {
            continue;  // its latest run failed: its tiles are not the scan's
        }
        sheets.push_back(PublishedSheet{sheet, batch::ResolveRecordedPath(entry.scan, outputDirectory),
                                        batch::ResolveRecordedPath(entry.cornerFile, outputDirectory)});
    }
    if (sheets.empty()) {
        throw PublishError("no finished sheet in " + platform::JoinPath(outputDirectory, batch::kJournalFile) +
                           ": the IIIF annotations come from the journal of georef-batch");
    }
    return sheets;
}

}  // namespace georef::publish
