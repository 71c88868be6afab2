#include "batch/hand_corners.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "batch/content_key.hpp"
#include "batch/corner_source.hpp"
#include "platform/atomic_file.hpp"

namespace georef::batch {

namespace {

// The record's one line: "accept-mirrored DIGEST", DIGEST the corner file's
// ContentDigest.
constexpr const char* kRecordWord = "accept-mirrored ";

}  // namespace

std::string MirroredHandCornersFile(const std::string& outputDirectory, const std::string& sheetText) {
    std::string path = HandCornersFile(outputDirectory, sheetText);
    path.replace(path.size() - 4, 4, ".mirrored");  // SHEET.txt -> SHEET.mirrored
    return path;
}

void AcceptMirroredHandCorners(const std::string& outputDirectory, const std::string& sheetText) {
    const std::string handFile = HandCornersFile(outputDirectory, sheetText);
    const std::string digest = ContentDigest(handFile);
    if (digest.empty()) {
        throw std::runtime_error("cannot read the hand corner file " + handFile);
    }
    platform::AtomicFile record(MirroredHandCornersFile(outputDirectory, sheetText));
    std::fprintf(record.Stream(), "%s%s\n", kRecordWord, digest.c_str());
    record.Commit();
}

void ForgetMirroredHandCorners(const std::string& outputDirectory, const std::string& sheetText) {
    const std::string path = MirroredHandCornersFile(outputDirectory, sheetText);
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) {
        throw std::runtime_error("cannot remove " + path + ": " + error.message());
    }
}

bool HandCornersAcceptMirrored(const std::string& outputDirectory, const std::string& sheetText) noexcept {
    try {
        std::ifstream in(MirroredHandCornersFile(outputDirectory, sheetText));
        std::string line;
        if (!std::getline(in, line) || line.rfind(kRecordWord, 0) != 0) {
            return false;
        }
        const std::string digest = ContentDigest(HandCornersFile(outputDirectory, sheetText));
        return !digest.empty() && line.substr(std::char_traits<char>::length(kRecordWord)) == digest;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace georef::batch
