// SourceRaster on scans written through GDAL's own drivers.

#include "raster/source_raster.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include "support/raster/scan_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::raster {
namespace {

using test::Rgb;
using test::ScanFormat;
using test::ScanOptions;
using test::WriteScan;

// A sample that differs per band, column and row, so that a swapped band,
// a transposed plane or a flipped row shows.
std::uint8_t Pattern(int band, int column, int row) {
    return static_cast<std::uint8_t>((band * 70 + column * 3 + row * 11) & 0xFF);
}

std::uint8_t At(const SourceRaster& scan, int band, int column, int row) {
    return scan.Sample(band, column, row);
}

class SourceRasterTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(SourceRasterTest, Open_RejectsFilesNoDriverReads) {
    const std::string text = m_dir.File("scan.tif");
    test::WriteFileBytes(text, "this is no image\n");
    SourceRaster scan;
    EXPECT_THROW(scan.Open(text), RasterError);
    EXPECT_THROW(scan.Open(m_dir.File("missing.tif")), RasterError);
    EXPECT_EQ(scan.Width(), -1);
    EXPECT_EQ(scan.Pixels(), nullptr);
}

TEST_F(SourceRasterTest, DamagedScan_GivesRasterErrorFromOpenOrRead) {
    const std::string path = m_dir.File("scan.tif");
    WriteScan(path, 64, 64, Pattern);
    const std::string bytes = test::ReadFileBytes(path);
    test::WriteFileBytes(path, bytes.substr(0, bytes.size() / 2));
    SourceRaster scan;
    EXPECT_THROW(
        {
            scan.Open(path);
            scan.ReadBands();
        },
        RasterError);
}

TEST_F(SourceRasterTest, DamagedJpeg_IsRefusedRatherThanPaintedGrey) {
    // GDAL only warns about a JPEG cut short ("Premature end of JPEG
    // file") and fills the missing rows with grey.
    const std::string path = m_dir.File("scan.jpg");
    ScanOptions options;
    options.format = ScanFormat::jpeg;
    WriteScan(path, 256, 256, Pattern, options);
    const std::string bytes = test::ReadFileBytes(path);
    test::WriteFileBytes(path, bytes.substr(0, bytes.size() * 2 / 3));
    SourceRaster scan;
    scan.Open(path);
    try {
        scan.ReadBands();
        ADD_FAILURE() << "a truncated JPEG was read";
    } catch (const RasterError& error) {
        EXPECT_NE(std::string(error.what()).find("Premature end of JPEG file"), std::string::npos) << error.what();
    }
}

TEST_F(SourceRasterTest, WiderSamples_GiveTheBytesOfTheSame8BitPicture) {
    // The same picture in 16-bit TIFF and PNG, 12 significant bits in
    // 16-bit storage, and floating point with a declared range of 0 .. 1:
    // every sample comes out as the 8-bit scan has it. One band is grey.
    struct Case {
        const char* name;
        ScanFormat format;
        test::SampleType type;
        int bands;
        std::vector<std::string> bandMetadata;
    };
    const std::vector<Case> cases = {
        {"rgb16.tif", ScanFormat::gtiff, test::SampleType::uint16, 3, {}},
        {"rgb16.png", ScanFormat::png, test::SampleType::uint16, 3, {}},
        {"grey16.png", ScanFormat::png, test::SampleType::uint16, 1, {}},
        {"rgb12.tif", ScanFormat::gtiff, test::SampleType::uint16Nbits12, 3, {}},
        {"float.tif", ScanFormat::gtiff, test::SampleType::float32, 3,
         {"STATISTICS_MINIMUM=0", "STATISTICS_MAXIMUM=1"}},
    };
    // Every byte value appears in every band.
    const auto everyValue = [](int band, int column, int row) {
        return static_cast<std::uint8_t>((band * 85 + column + row * 16) & 0xFF);
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScanOptions options;
        options.format = k.format;
        options.type = k.type;
        options.bands = k.bands;
        options.bandMetadata = k.bandMetadata;
        WriteScan(m_dir.File(k.name), 16, 16, everyValue, options);

        SourceRaster scan;
        scan.Open(m_dir.File(k.name));
        scan.ReadBands();
        for (int r = 0; r < 16; ++r) {
            for (int c = 0; c < 16; ++c) {
                for (int b = 0; b < 3; ++b) {
                    ASSERT_EQ(At(scan, b, c, r), everyValue(k.bands == 1 ? 1 : b + 1, c, r))
                        << "band " << b + 1 << " at " << c << "," << r;
                }
            }
        }
    }

    // Without a declared range there is nothing to scale by: refused before
    // anything is allocated, with the reason.
    for (const test::SampleType type : {test::SampleType::float32, test::SampleType::int16}) {
        ScanOptions options;
        options.type = type;
        WriteScan(m_dir.File("unscaled.tif"), 16, 16, everyValue, options);
        SourceRaster scan;
        try {
            scan.Open(m_dir.File("unscaled.tif"));
            ADD_FAILURE() << "a scan without a range was opened";
        } catch (const RasterError& error) {
            EXPECT_NE(std::string(error.what()).find("declares no range"), std::string::npos) << error.what();
        }
        EXPECT_EQ(scan.Pixels(), nullptr);
    }
}

TEST_F(SourceRasterTest, Open_RejectsImagesWithoutBands) {
    const std::string path = m_dir.File("empty.vrt");
    test::WriteFileBytes(path, "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>\n");
    SourceRaster scan;
    EXPECT_THROW(scan.Open(path), RasterError);
}

TEST_F(SourceRasterTest, Open_RejectsImagesOf2To31PixelsOrMore) {
    // A sparse TIFF: the header claims 50000 x 50000 pixels, the file holds none.
    const std::string path = m_dir.File("huge.tif");
    GDALAllRegister();
    char** options = CSLSetNameValue(nullptr, "SPARSE_OK", "YES");
    GDALDatasetH huge = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), 50000, 50000, 3, GDT_Byte, options);
    CSLDestroy(options);
    ASSERT_NE(huge, nullptr);
    GDALClose(huge);

    SourceRaster scan;
    EXPECT_THROW(scan.Open(path), RasterError);
}

// A TIFF whose bands are stored one after the other (planar), which GDAL
// hands out band by band rather than pixel by pixel.
void WriteBandInterleavedScan(const std::string& path, int width, int height) {
    GDALAllRegister();
    char** options = CSLSetNameValue(nullptr, "INTERLEAVE", "BAND");
    GDALDatasetH dataset = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, height, 3, GDT_Byte, options);
    CSLDestroy(options);
    ASSERT_NE(dataset, nullptr);
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height);
    for (int band = 1; band <= 3; ++band) {
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                samples[static_cast<std::size_t>(r) * width + c] = Pattern(band, c, r);
            }
        }
        ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(dataset, band), GF_Write, 0, 0, width, height, samples.data(), width,
                               height, GDT_Byte, 0, 0),
                  CE_None);
    }
    GDALClose(dataset);
}

TEST_F(SourceRasterTest, ReadBands_PutsBandsOneToThreeSideBySideInEachPixel) {
    // RGB and RGB + alpha (the fourth band is ignored), stored pixel by
    // pixel, and RGB stored band by band.
    struct Case {
        const char* name;
        int bands;
        bool bandInterleaved;
    };
    for (const Case& k : {Case{"rgb.tif", 3, false}, Case{"rgba.tif", 4, false}, Case{"planar.tif", 3, true}}) {
        SCOPED_TRACE(k.name);
        const std::string path = m_dir.File(k.name);
        if (k.bandInterleaved) {
            WriteBandInterleavedScan(path, 23, 17);
        } else {
            ScanOptions options;
            options.bands = k.bands;
            WriteScan(path, 23, 17, Pattern, options);
        }

        SourceRaster scan;
        scan.Open(path);
        scan.ReadBands();
        ASSERT_EQ(scan.Width(), 23);
        ASSERT_EQ(scan.Height(), 17);
        for (int r = 0; r < 17; ++r) {
            for (int c = 0; c < 23; ++c) {
                const std::uint8_t* pixel = scan.Pixels() + 3 * (static_cast<std::size_t>(r) * 23 + c);
                for (int b = 0; b < 3; ++b) {
                    ASSERT_EQ(pixel[b], Pattern(b + 1, c, r)) << "band " << b + 1 << " at " << c << "," << r;
                    ASSERT_EQ(At(scan, b, c, r), pixel[b]);
                }
            }
        }
        // The slack after the last pixel reads as zeros.
        for (int slack = 0; slack < SourceRaster::kSampleSlack; ++slack) {
            ASSERT_EQ(scan.Pixels()[3 * 23 * 17 + slack], 0);
        }
    }
}

TEST_F(SourceRasterTest, ReadBands_JpegScanOfPureRedGivesRedInBandOne) {
    const std::string path = m_dir.File("red.jpg");
    ScanOptions options;
    options.format = ScanFormat::jpeg;
    WriteScan(path, 32, 24, [](int band, int, int) { return band == 1 ? 255 : 0; }, options);

    SourceRaster scan;
    scan.Open(path);
    scan.ReadBands();
    ASSERT_EQ(scan.Width(), 32);
    ASSERT_EQ(scan.Height(), 24);
    for (int r = 0; r < 24; ++r) {
        for (int c = 0; c < 32; ++c) {
            ASSERT_GE(At(scan, 0, c, r), 250);
            ASSERT_LE(At(scan, 1, c, r), 5);
            ASSERT_LE(At(scan, 2, c, r), 5);
        }
    }
}

TEST_F(SourceRasterTest, ReadBands_ReplicatesAGreyBandIntoAllThreeBands) {
    const auto grey = [](int, int column, int row) { return static_cast<std::uint8_t>(column * 10 + row); };
    struct Case {
        const char* name;
        ScanFormat format;
        int bands;  // grey, or grey + alpha
        int tolerance;
    };
    for (const Case& k : {Case{"grey.tif", ScanFormat::gtiff, 1, 0}, Case{"greyalpha.tif", ScanFormat::gtiff, 2, 0},
                          Case{"grey.jpg", ScanFormat::jpeg, 1, 3}}) {
        SCOPED_TRACE(k.name);
        ScanOptions options;
        options.format = k.format;
        options.bands = k.bands;
        WriteScan(m_dir.File(k.name), 16, 16, grey, options);

        SourceRaster scan;
        scan.Open(m_dir.File(k.name));
        scan.ReadBands();
        for (int r = 0; r < 16; ++r) {
            for (int c = 0; c < 16; ++c) {
                ASSERT_NEAR(At(scan, 0, c, r), grey(1, c, r), k.tolerance);
                ASSERT_EQ(At(scan, 1, c, r), At(scan, 0, c, r));
                ASSERT_EQ(At(scan, 2, c, r), At(scan, 0, c, r));
            }
        }
    }
}

TEST_F(SourceRasterTest, ReadBands_ExpandsAPalettedBandThroughItsTable) {
    ScanOptions options;
    options.bands = 1;
    options.colourTable = {Rgb{200, 10, 20}, Rgb{0, 128, 0}, Rgb{5, 6, 255}};
    // Index 3 lies beyond the table.
    const auto index = [](int, int column, int row) { return static_cast<std::uint8_t>((column + row) % 4); };
    // The large image is read in more than one strip of rows (8 MiB of
    // 16-bit indices: 1024 rows of 4096), the last strip a short one.
    struct Size {
        int width;
        int height;
    };
    for (const Size size : {Size{9, 7}, Size{4096, 1100}}) {
        SCOPED_TRACE(size.width);
        const std::string path = m_dir.File("palette" + std::to_string(size.width) + ".tif");
        WriteScan(path, size.width, size.height, index, options);

        SourceRaster scan;
        scan.Open(path);
        scan.ReadBands();
        for (int r = 0; r < size.height; ++r) {
            for (int c = 0; c < size.width; ++c) {
                const int i = index(1, c, r);
                const Rgb expected = i < 3 ? options.colourTable[static_cast<std::size_t>(i)] : Rgb{0, 0, 0};
                ASSERT_EQ(At(scan, 0, c, r), expected.r) << c << "," << r;
                ASSERT_EQ(At(scan, 1, c, r), expected.g) << c << "," << r;
                ASSERT_EQ(At(scan, 2, c, r), expected.b) << c << "," << r;
            }
        }
    }
}

TEST_F(SourceRasterTest, ReadBands_LeavesGdalsCacheLimitAsItWas) {
    // The read lowers the limit while it runs; the rest of the process
    // must get back whatever limit it had.
    const std::string path = m_dir.File("scan.tif");
    WriteScan(path, 40, 30, Pattern);
    const GIntBig before = GDALGetCacheMax64();
    SourceRaster scan;
    scan.Open(path);
    scan.ReadBands();
    EXPECT_EQ(GDALGetCacheMax64(), before);
}

}  // namespace
}  // namespace georef::raster
