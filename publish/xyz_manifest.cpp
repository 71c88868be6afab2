#include "publish/xyz_manifest.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_system.hpp"
#include "publish/image_encoding.hpp"

namespace georef::publish {

namespace {

constexpr const char* kHeader = "georef-publish web tiles 1";

}  // namespace

std::string XyzManifest::Folder(const std::string& xyzDirectory) {
    return platform::JoinPath(xyzDirectory, ".publish");
}

std::optional<XyzManifest> XyzManifest::Load(const std::string& xyzDirectory) {
    std::ifstream in(platform::JoinPath(Folder(xyzDirectory), "manifest"));
    std::string line;
    XyzManifest manifest;
    if (!in.is_open() || !std::getline(in, line) || line != kHeader || !std::getline(in, line) ||
        line.rfind("settings ", 0) != 0) {
        return std::nullopt;
    }
    manifest.settings = line.substr(9);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string word;
        std::string name;
        std::int64_t bytes = 0;
        std::int64_t modified = 0;
        if (!(fields >> word >> name >> bytes >> modified) || word != "tile") {
            return std::nullopt;
        }
        manifest.tiles[name] = {bytes, modified};
    }
    return manifest;
}

XyzManifest XyzManifest::Of(const SourceArea& area, std::string settings) {
    XyzManifest manifest;
    manifest.settings = std::move(settings);
    for (const SourceTile& tile : area.tiles) {
        manifest.tiles[tile.name.file] = {tile.bytes, tile.modifiedNs};
    }
    return manifest;
}

void XyzManifest::Save(const std::string& xyzDirectory) const {
    std::ostringstream text;
    text << kHeader << "\nsettings " << settings << '\n';
    for (const auto& [name, state] : tiles) {
        text << "tile " << name << ' ' << state.first << ' ' << state.second << '\n';
    }
    const std::string bytes = text.str();
    std::error_code error;
    std::filesystem::create_directories(Folder(xyzDirectory), error);
    WriteFileAtomically(platform::JoinPath(Folder(xyzDirectory), "manifest"), bytes.data(), bytes.size());
}

}  // namespace georef::publish
