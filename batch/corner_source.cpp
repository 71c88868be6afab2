#include "batch/corner_source.hpp"

#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include "batch/content_key.hpp"
#include "batch/hand_corners.hpp"
#include "corners/find_corners.hpp"
#include "corners/scan_image.hpp"
#include "geometry/corner_fit.hpp"
#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"
#include "platform/version.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;

bool IsFile(const std::string& name) {
    return platform::Exists(name) && !platform::IsDirectory(name);
}

// What the finder's results depend on besides the scan: its version and the
// options the batch gives it (none: the line's centre, the stated dpi).
std::string FinderKey() {
    return std::string(platform::kVersion) + " revision " + std::to_string(corners::kFinderRevision) +
           " edge centre";
}

// OUTDIR/corners/SHEET.key: one "name value" per line.
//   scan     the digest of the scan the rest was made from
//   finder   FinderKey() of the finder that searched it
//   found    the digest of the corner file it wrote, or
//   refused  why it found none
//   picture  what the picture shows (PictureKey)
//   identity the digest of a corner file made elsewhere and whether the
//            scan's print contradicts the sheet named (IdentityOf)
//   read     the digest of the corner file and what the margin read about
//            its corners, as the picture shows it
class CornerKey {
public:
    explicit CornerKey(std::string path) : m_path(std::move(path)) {
        std::ifstream in(m_path);
        std::string line;
        while (std::getline(in, line)) {
            const std::string::size_type blank = line.find(' ');
            if (blank != std::string::npos) {
                m_values[line.substr(0, blank)] = line.substr(blank + 1);
            }
        }
    }

    std::string Get(const std::string& name) const {
        const auto it = m_values.find(name);
        return it == m_values.end() ? std::string() : it->second;
    }
    void Set(const std::string& name, std::string value) {
        for (char& c : value) {
            c = c == '\n' || c == '\r' ? ' ' : c;
        }
        m_values[name] = std::move(value);
    }
    void Erase(const std::string& name) { m_values.erase(name); }
    void Clear() { m_values.clear(); }

    // Replaces the file; a key that cannot be written only costs a search next time.
    void Save() const noexcept {
        try {
            platform::AtomicFile file(m_path);
            for (const auto& [name, value] : m_values) {
                std::fprintf(file.Stream(), "%s %s\n", name.c_str(), value.c_str());
            }
            file.Commit();
        } catch (const std::exception&) {
        }
    }

private:
    std::string m_path;
    std::map<std::string, std::string> m_values;
};

// The corner file given or found beside the scan or in --corners; empty
// cornerFile with the places looked in as the refusal when there is none:
// "no corner file given (looked for 40574.txt in OUTDIR/corners/hand, in
// DIR and beside the scan in SCANDIR)". It follows the finder's refusal,
// which is the reason the sheet fails.
CornerSource GivenCornerFile(const SheetInput& input, const std::string& cornersDirectory,
                             const std::string& outputDirectory) {
    CornerSource source;
    const std::string hand = HandCornersFile(outputDirectory, input.sheetText);
    if (IsFile(hand)) {
        source.cornerFile = hand;
        return source;
    }
    if (!input.cornerFile.empty()) {
        if (IsFile(input.cornerFile)) {
            source.cornerFile = input.cornerFile;
        } else {
            source.refusal = "no corner file " + input.cornerFile;
        }
        return source;
    }
    const std::string name = input.sheetText + ".txt";
    std::string looked = "looked for " + name + " in " + fs::path(hand).parent_path().string();
    if (!cornersDirectory.empty()) {
        const std::string candidate = platform::JoinPath(cornersDirectory, name);
        if (IsFile(candidate)) {
            source.cornerFile = candidate;
            return source;
        }
        looked += ", in " + cornersDirectory;
    }
    const std::string scanDirectory = fs::path(input.scan).parent_path().string();
    const std::string beside = platform::JoinPath(scanDirectory, name);
    if (IsFile(beside)) {
        source.cornerFile = beside;
        return source;
    }
    looked += " and beside the scan in " + (scanDirectory.empty() ? std::string(".") : scanDirectory);
    source.refusal = "no corner file given (" + looked + ")";
    return source;
}

std::optional<geometry::CornerPoints> ReadCorners(const std::string& path) {
    std::ifstream in(path);
    return geometry::ReadCornerPoints(in);
}

// Draws the picture of checked corners; empty when drawn, else why not.
// refusal: why the sheet may not be painted (the check's or the print's
// word), empty when it may; readingNote: what the margin read.
std::string DrawChecked(const std::string& picture, const SheetInput& input, DecodedScan& scan,
                        const geometry::CornerPoints& points, const CornerVerdict& verdict, bool found,
                        const std::string& refusal, const std::string& readingNote) noexcept {
    try {
        if (refusal.empty() && !found) {
            corners::WriteCornerReport(picture, scan.Image(), input.sheet, points, readingNote);
            return {};
        }
        corners::FindResult shown;
        shown.measured = points;
        if (refusal.empty()) {
            shown.corners = points;
            shown.fit = verdict.fit;
            shown.dpi = verdict.fit.dpi;
        } else {
            shown.refusal = verdict.Accepted() ? refusal : verdict.refusal;
        }
        corners::WriteCornerReport(picture, scan.Image(), input.sheet, shown, readingNote);
        return {};
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "the picture could not be drawn";
    }
}

// Whether a failure to draw says the scan's pixels are damaged.
bool SaysDamaged(const std::string& problem) {
    return problem.rfind("cannot read the scan ", 0) == 0 && problem.find(": damaged (") != std::string::npos;
}

// Whether the scan's print contradicts the sheet named, for corners made
// elsewhere: the refusal's reason, or empty. Kept in the key for the corner
// file's bytes ("identity DIGEST ok" or "identity DIGEST refused: why"),
// and what was read for the picture ("read DIGEST note"). The scan is read
// from its decoded pixels, which the picture and the run use too.
std::string IdentityOf(const SheetInput& input, DecodedScan& scan, const std::string& cornerDigest,
                       const geometry::CornerPoints& points, CornerKey& key) {
    const std::string kept = key.Get("identity");
    if (kept.rfind(cornerDigest + " ", 0) == 0) {
        const std::string verdict = kept.substr(cornerDigest.size() + 1);
        return verdict.rfind("refused: ", 0) == 0 ? verdict.substr(9) : std::string();
    }
    corners::IdentityCheck check;
    try {
        check = corners::CheckSheetIdentity(input.sheet, scan.Image(), points);
    } catch (const std::exception&) {
        return std::string();  // a damaged scan: the run says so in its own words
    }
    const std::string refusal = check.verdict.contradicted ? check.verdict.message : std::string();
    key.Set("identity", cornerDigest + (refusal.empty() ? " ok" : " refused: " + refusal));
    key.Set("read", cornerDigest + " " + corners::ReadingNote(check.reading, check.verdict));
    return refusal;
}

// What the margin read about the corners of the corner file with this
// digest, as kept in the key; empty when nothing was kept for them.
std::string KeptReading(const CornerKey& key, const std::string& cornerDigest) {
    const std::string kept = key.Get("read");
    return kept.rfind(cornerDigest + " ", 0) == 0 ? kept.substr(cornerDigest.size() + 1) : std::string();
}

// The corner finder on the scan, its corner file and picture written and
// the key updated: the corner file, or empty with the refusal.
CornerSource RunFinder(const SheetInput& input, DecodedScan& scan, const std::string& foundFile,
                       const std::string& picture, CornerKey& key) {
    std::error_code ignored;
    fs::remove(foundFile, ignored);  // made from other bytes or by another finder
    key.Erase("found");
    key.Erase("refused");
    key.Erase("picture");
    CornerSource source;
    const corners::FindResult found = corners::FindCorners(input.sheet, scan.Image());
    if (!found.Found()) {
        source.refusal = "the corner finder refused: " + found.refusal;
        key.Set("refused", found.refusal);
        if (found.measured || found.searched) {
            try {
                corners::WriteCornerReport(picture, scan.Image(), input.sheet, found);
                source.picture = picture;
                key.Set("picture", "refused");
            } catch (const std::exception&) {
            }
        }
        return source;
    }
    geometry::WriteCornerFile(foundFile, *found.corners, geometry::CornerPrecision::measured);
    const std::string digest = ContentDigest(foundFile);
    key.Set("found", digest);
    key.Set("read", digest + " " + corners::ReadingNote(found.reading, found.identity));
    source.cornerFile = foundFile;
    source.found = true;
    return source;
}

}  // namespace

std::string FoundCornersDirectory(const std::string& outputDirectory) {
    return platform::JoinPath(outputDirectory, "corners");
}

std::string HandCornersFile(const std::string& outputDirectory, const std::string& sheetText) {
    return platform::JoinPath(platform::JoinPath(FoundCornersDirectory(outputDirectory), "hand"), sheetText + ".txt");
}

CornerSource LocateCorners(const SheetInput& input, const CornerRequest& request, DecodedScan& scan) noexcept {
    const std::string directory = FoundCornersDirectory(request.outputDirectory);
    const std::string picture = platform::JoinPath(directory, input.sheetText + ".png");
    const std::string foundFile = platform::JoinPath(directory, input.sheetText + ".txt");
    try {
        CornerKey key(platform::JoinPath(directory, input.sheetText + ".key"));
        if (request.force || key.Get("scan") != request.scanDigest || key.Get("finder") != FinderKey()) {
            key.Clear();  // made from other bytes: nothing of it holds
        }
        key.Set("scan", request.scanDigest);
        key.Set("finder", FinderKey());

        // The scan first: a file that is no image is said to be none before
        // anything is said about its corners.
        std::optional<double> statedDpi;
        try {
            const corners::ScanImage scan(input.scan);
            statedDpi = scan.StatedDpi();
        } catch (const std::exception& error) {
            CornerSource unreadable;
            unreadable.refusal = error.what();  // "cannot read the scan ...: not an image ..."
            return unreadable;
        }

        CornerSource source = GivenCornerFile(input, request.cornersDirectory, request.outputDirectory);
        if (source.cornerFile.empty()) {
            if (!input.cornerFile.empty()) {
                return source;  // the list names a corner file that is not there
            }
            const std::string notGiven = source.refusal;
            if (!key.Get("found").empty() && key.Get("found") == ContentDigest(foundFile)) {
                source = CornerSource{foundFile, {}, {}, true, std::nullopt};
            } else if (!key.Get("refused").empty()) {
                source.refusal = "the corner finder refused: " + key.Get("refused");
                source.picture = key.Get("picture") == "refused" && IsFile(picture) ? picture : std::string();
            } else {
                try {
                    source = RunFinder(input, scan, foundFile, picture, key);
                } catch (const std::exception& error) {
                    source = CornerSource{};
                    source.refusal = error.what();  // the scan's own fault: not an image, damaged
                }
            }
            if (source.cornerFile.empty()) {
                source.refusal += "; " + notGiven;  // why the finder failed comes first
                key.Save();
                return source;
            }
        }

        const std::optional<geometry::CornerPoints> points = ReadCorners(source.cornerFile);
        if (!points) {
            source.refusal = "the corner file " + source.cornerFile +
                             " does not hold four corners (lines of id, x and y)";
            return source;
        }
        // A mirrored fit may be meant for all sheets (--accept-mirrored) or,
        // recorded beside it, for the hand corner file as it is now.
        const bool acceptMirrored =
            request.acceptMirrored ||
            (source.cornerFile == HandCornersFile(request.outputDirectory, input.sheetText) &&
             HandCornersAcceptMirrored(request.outputDirectory, input.sheetText));
        source.verdict = CheckCornerSet(*points, input.sheet, statedDpi, acceptMirrored);
        const std::string cornerDigest = ContentDigest(source.cornerFile);
        if (!source.verdict->Accepted()) {
            source.refusal = (source.found ? "the corners found are refused: " : "the corners of " + source.cornerFile +
                                                                                 " are refused: ") +
                             source.verdict->refusal;
        } else if (!source.found) {
            // The finder checked what it found against the print; corners
            // made elsewhere are checked here, once for these bytes.
            const std::string identity = IdentityOf(input, scan, cornerDigest, *points, key);
            if (!identity.empty()) {
                source.refusal = "the scan is not sheet " + input.sheetText + ": " + identity;
            }
        }
        // The picture shows these corners on these bytes with this verdict
        // and what the margin read.
        const std::string reading = KeptReading(key, cornerDigest);
        const std::string shows = cornerDigest + " " + BytesDigest(source.refusal + "\n" + reading) +
                                  (acceptMirrored ? " mirrored" : "");
        if (key.Get("picture") == shows && IsFile(picture)) {
            source.picture = picture;
        } else if (const std::string problem = DrawChecked(picture, input, scan, *points, *source.verdict,
                                                           source.found, source.refusal, reading);
                   problem.empty()) {
            source.picture = picture;
            key.Set("picture", shows);
        } else {
            key.Erase("picture");
            if (SaysDamaged(problem) && source.refusal.empty()) {
                source.refusal = problem;  // found while drawing: the run would stop on it
            }
        }
        key.Save();
        return source;
    } catch (const std::exception& error) {
        CornerSource failed;
        failed.refusal = std::string("no corners: ") + error.what();
        return failed;
    }
}

}  // namespace georef::batch
