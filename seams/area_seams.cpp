#include "seams/area_seams.hpp"

#include <cstdlib>

#include "batch/journal.hpp"
#include "platform/file_system.hpp"

namespace georef::seams {

AreaSeams MeasureAreaSeams(const AreaSeamsRequest& request, std::vector<batch::SheetResult>& sheets) {
    AreaSeams result;
    result.csvPath = platform::JoinPath(request.outputDirectory, kSeamsFile);
    if (request.painted && request.painted->empty()) {
        result.table = ReadSeamsCsv(result.csvPath);
    } else {
        SurveyInput input;
        input.configPath = request.configPath;
        input.mosaicPath = platform::JoinPath(request.outputDirectory, "mosaic.vrt");
        const batch::Journal journal = batch::Journal::Load(request.outputDirectory);
        for (const auto& entry : journal.Entries()) {
            input.inMosaic.insert(entry.first);
        }
        if (request.painted) {
            input.painted = *request.painted;
            result.table = UpdateSeamsCsv(input, request.options, result.csvPath);
        } else {
            result.table = MeasureSeams(input, request.options);
            WriteSeamsCsv(result.table, result.csvPath);
        }
        result.measured = true;
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
