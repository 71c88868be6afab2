#pragma once
// What the last run of the web tiles was made from, kept beside the tiles
// (.publish/manifest), so that the next run redoes only the web tiles whose
// source tiles changed. It is replaced only after every tile of a run is on
// disk: a run that stops half-way leaves the previous manifest, and the next
// run redoes at least what the stopped one was redoing.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "publish/source_area.hpp"

namespace georef::publish {

struct XyzManifest {
    std::string settings;  // everything but the source tiles that the tiles' bytes depend on
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> tiles;  // name -> bytes, mtime ns

    // The folder of the manifest and the block cache inside the tiles' folder.
    static std::string Folder(const std::string& xyzDirectory);

    // Empty when there is none or it does not parse.
    static std::optional<XyzManifest> Load(const std::string& xyzDirectory);

    static XyzManifest Of(const SourceArea& area, std::string settings);

    // Replaces the manifest (synced). Throws PublishError.
    void Save(const std::string& xyzDirectory) const;
};

}  // namespace georef::publish
