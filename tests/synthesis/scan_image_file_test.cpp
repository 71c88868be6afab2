// Writing a drawn scan: the resolution a scanner records, read back through
// GDAL as a corner finder would, and no trace of a failed write.

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "platform/failure.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/demo_scan.hpp"
#include "synthesis/scan_image_file.hpp"

namespace georef::synthesis {
namespace {

// A small RGB gradient, pixel-interleaved.
struct Pixels {
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 40;
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kWidth * kHeight * 3);
    Pixels() {
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = static_cast<std::uint8_t>(k * 7 % 251);
        }
    }
    RgbImageView View() const { return InterleavedRgb(bytes.data(), kWidth, kHeight, kWidth * 3); }
};

std::string Item(const std::string& path, const char* name) {
    GDALAllRegister();
    const gdal_support::DatasetHandle dataset(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!dataset) {
        return "(unreadable)";
    }
    const char* value = GDALGetMetadataItem(static_cast<GDALDatasetH>(dataset.get()), name, nullptr);
    return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return names;
}

TEST(ScanImageFile, FailedWriteLeavesTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.File("scan.jpg");
    test::WriteFileBytes(path, "old scan");
    ScanEncoding encoding;
    encoding.jpegQuality = 5;  // GDAL's JPEG writer refuses it
    EXPECT_THROW(WriteScanImage(path, Pixels().View(), encoding), Failure);
    EXPECT_EQ(test::ReadFileBytes(path), "old scan");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"scan.jpg"});

    EXPECT_THROW(WriteScanImage(dir.File("missing/scan.tif"), Pixels().View(), ScanEncoding{}), Failure);
    geometry::CornerPoints corners{};
    EXPECT_THROW(
        geometry::WriteCornerFile(dir.File("missing/corners.txt"), corners, geometry::CornerPrecision::exact),
        Failure);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"scan.jpg"});
}

TEST(ScanImageFile, ResolutionRecordedOnlyWhenAskedAndPixelsKept) {
    test::TempDir dir;
    ScanEncoding encoding;
    encoding.densityDpi = 400.0;
    WriteScanImage(dir.File("on.tif"), Pixels().View(), encoding);
    EXPECT_EQ(Item(dir.File("on.tif"), "TIFFTAG_XRESOLUTION"), "400");
    EXPECT_EQ(Item(dir.File("on.tif"), "TIFFTAG_YRESOLUTION"), "400");
    EXPECT_EQ(Item(dir.File("on.tif"), "TIFFTAG_RESOLUTIONUNIT"), "2 (pixels/inch)");
    WriteScanImage(dir.File("on.jpeg"), Pixels().View(), encoding);
    EXPECT_EQ(Item(dir.File("on.jpeg"), "EXIF_XResolution"), "(400)");
    EXPECT_EQ(Item(dir.File("on.jpeg"), "EXIF_ResolutionUnit"), "2");
    // JFIF header: dots per inch, 400 = 0x0190 both ways.
    EXPECT_EQ(test::ReadFileBytes(dir.File("on.jpeg")).substr(13, 5), std::string("\x01\x01\x90\x01\x90", 5));

    WriteScanImage(dir.File("off.tif"), Pixels().View(), ScanEncoding{});
    EXPECT_EQ(Item(dir.File("off.tif"), "TIFFTAG_XRESOLUTION"), "");
    // The TIFF is lossless: every sample comes back where it was.
    const gdal_support::DatasetHandle dataset(GDALOpen(dir.File("off.tif").c_str(), GA_ReadOnly));
    ASSERT_TRUE(dataset);
    std::vector<std::uint8_t> back(Pixels::kWidth * Pixels::kHeight * 3);
    ASSERT_EQ(GDALDatasetRasterIO(static_cast<GDALDatasetH>(dataset.get()), GF_Read, 0, 0, Pixels::kWidth,
                                  Pixels::kHeight, back.data(), Pixels::kWidth, Pixels::kHeight, GDT_Byte, 3,
                                  nullptr, 3, Pixels::kWidth * 3, 1),
              CE_None);
    EXPECT_EQ(back, Pixels().bytes);
    EXPECT_EQ(Names(dir.Path()).size(), 3u);  // no side files
}

}  // namespace
}  // namespace georef::synthesis
