#include "publish/cog.hpp"

#include <gdal_utils.h>

#include <memory>
#include <vector>

#include "platform/atomic_file.hpp"
#include "publish/gdal_dataset.hpp"
#include "publish/publish_error.hpp"

namespace georef::publish {

namespace {

struct TranslateOptionsCloser {
    void operator()(GDALTranslateOptions* options) const noexcept { GDALTranslateOptionsFree(options); }
};

int CPL_STDCALL ReportProgress(double done, const char*, void* data) {
    const Progress& progress = *static_cast<const Progress*>(data);
    if (progress) {
        progress("COG", done);
    }
    return TRUE;
}

}  // namespace

std::vector<std::string> CogTranslateArguments(const CogOptions& options) {
    // The COG driver writes three-band JPEG as YCbCr and keeps the source's
    // mask as the file's internal mask.
    return {"-of",
            "COG",
            "-co",
            "COMPRESS=JPEG",
            "-co",
            "QUALITY=" + std::to_string(options.quality),
            "-co",
            "BLOCKSIZE=512",
            "-co",
            "OVERVIEW_RESAMPLING=AVERAGE",
            "-co",
            "NUM_THREADS=" + std::to_string(options.threads < 1 ? 1 : options.threads)};
}

void WriteCog(const SourceArea& area, const std::string& path, const CogOptions& options,
              const Progress& progress) {
    const Dataset mosaic = OpenRaster(area.mosaicPath);
    if (!mosaic) {
        throw PublishError("cannot open " + area.mosaicPath + GdalReason());
    }
    const std::vector<std::string> arguments = CogTranslateArguments(options);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::unique_ptr<GDALTranslateOptions, TranslateOptionsCloser> translate(
        GDALTranslateOptionsNew(argv.data(), nullptr));
    if (!translate) {
        throw PublishError("GDAL does not take the COG options" + GdalReason());
    }
    GDALTranslateOptionsSetProgress(translate.get(), ReportProgress, const_cast<Progress*>(&progress));

    platform::AtomicFile file(path, platform::AtomicFile::Access::byName);
    {
        QuietGdal quiet;
        int usageError = FALSE;
        const Dataset written(GDALTranslate(file.TemporaryName().c_str(), mosaic.get(), translate.get(), &usageError));
        if (!written) {
            throw PublishError("cannot write the COG " + path + GdalReason());
        }
    }  // closing the dataset completes the file
    try {
        file.Commit();
    } catch (const std::exception& error) {
        throw PublishError(error.what());
    }
}

}  // namespace georef::publish
