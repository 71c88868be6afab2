// The built programs: their mains hand the command line to the tools and
// turn the outcome into the exit status, with errors on standard error.

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace georef::tools {
namespace {

TEST(Programs, ExitStatusesAndStreamsOfTheBuiltTools) {
    test::TempDir dir;
    const test::ProcessResult written = test::RunProcess(GEOREF_CONFIG_EXE, {"40571"}, dir.Path());
    EXPECT_EQ(written.exitStatus, 0) << written.err;
    EXPECT_NE(written.out.find("wrote config.bin"), std::string::npos);
    EXPECT_FALSE(test::ReadFileBytes(dir.File("config.bin")).empty());

    const test::ProcessResult invalid = test::RunProcess(GEOREF_CONFIG_EXE, {"40579"}, dir.Path());
    EXPECT_EQ(invalid.exitStatus, 1);
    EXPECT_TRUE(invalid.out.empty());
    EXPECT_NE(invalid.err.find("40579"), std::string::npos);

    const test::ProcessResult usage = test::RunProcess(GEOREF_CHECK_EXE, {}, dir.Path());
    EXPECT_EQ(usage.exitStatus, 2);
    EXPECT_NE(usage.err.find("usage: georef-check"), std::string::npos);

    test::WriteFileBytes(dir.File("corners.txt"), "1 0 0\n2 0 100\n3 0 200\n4 0 300\n");
    const test::ProcessResult singular = test::RunProcess(GEOREF_CHECK_EXE, {"40571", "corners.txt"}, dir.Path());
    EXPECT_EQ(singular.exitStatus, 1);
    EXPECT_NE(singular.err.find("admit no fit"), std::string::npos) << singular.err;
}

}  // namespace
}  // namespace georef::tools
