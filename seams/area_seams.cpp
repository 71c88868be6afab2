#include "seams/area_seams.hpp"

#include <algorithm>
#include <cstdlib>

#include "batch/journal.hpp"
#include "batch/mosaic.hpp"
#include "platform/file_system.hpp"

namespace georef::seams {

AreaSeams MeasureAreaSeams(const AreaSeamsRequest& request, std::vector<batch::SheetResult>& sheets) {
    AreaSeams result;
    result.csvPath = platform::JoinPath(request.outputDirectory, kSeamsFile);
    const batch::Journal journal = batch::Journal::Load(request.outputDirectory);
    SurveyInput input;
    input.configPath = request.configPath;
    input.mosaicPath = platform::JoinPath(request.outputDirectory, batch::kMosaicFile);
    for (const auto& [sheet, entry] : journal.Entries()) {
        // A sheet whose latest run failed holds no known content in the
        // mosaic: blank paper, or what an earlier run painted.
        if (entry.status == batch::SheetStatus::done) {
            input.inMosaic.insert(sheet);
        }
    }
    // Earlier lines of seams still between sheets of the mosaic, unless every seam is measured again.
    std::vector<SeamMeasurement> earlier = request.painted ? ReadSeamsCsv(result.csvPath) : std::vector<SeamMeasurement>();
    const std::size_t written = earlier.size();
    earlier.erase(std::remove_if(earlier.begin(), earlier.end(),
                                 [&](const SeamMeasurement& s) {
                                     return input.inMosaic.count(s.sheet) == 0 || input.inMosaic.count(s.neighbour) == 0;
                                 }),
                  earlier.end());
    if (request.painted && request.painted->empty()) {
        result.table = std::move(earlier);
        if (result.table.size() != written) {
            WriteSeamsCsv(result.table, result.csvPath);
        }
    } else {
        if (request.painted) {
            input.painted = *request.painted;
        }
        result.table = MergeSeams(earlier, MeasureSeams(input, request.options));
        WriteSeamsCsv(result.table, result.csvPath);
        result.measured = true;
        // For a later measurement of some seams (georef-review's after a fix).
        batch::Journal::RecordSeamThreshold(request.outputDirectory, request.options.thresholdMetres);
    }
    MarkSheets(result.table, sheets);
    if (!request.summaryCsv.empty()) {
        batch::WriteSummaryCsv(sheets, request.summaryCsv);
    }
    return result;
}

void MarkSheets(const std::vector<SeamMeasurement>& table, std::vector<batch::SheetResult>& sheets) {
    for (batch::SheetResult& sheet : sheets) {
        sheet.seams = SheetVerdict(table, std::atoi(sheet.sheet.c_str()));
    }
}

std::vector<review::SeamFigures> PageFigures(const std::vector<SeamMeasurement>& table) {
    std::vector<review::SeamFigures> figures;
    for (const SeamMeasurement& m : table) {
        review::SeamFigures f;
        f.first = m.sheet;
        f.second = m.neighbour;
        f.alongMetres = m.alongMetres;
        f.acrossMetres = m.acrossMetres;
        f.features = m.features;
        f.status = SeamStatusName(m.status);
        figures.push_back(f);
    }
    return figures;
}

void WriteSeamsReport(const std::vector<SeamMeasurement>& table, std::ostream& out) {
    WriteSeamsTable(table, out);
    std::set<int> sheets;
    for (const SeamMeasurement& s : table) {
        sheets.insert(s.sheet);
        sheets.insert(s.neighbour);
    }
    for (const int sheet : sheets) {
        if (SheetVerdict(table, sheet) == "suspect") {
            out << "suspect sheet: " << sheet << " (every measured seam of it is suspect)\n";
        }
    }
}

}  // namespace georef::seams
