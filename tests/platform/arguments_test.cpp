// The companion programs' command-line numbers: what each reader takes and
// what it leaves to the program's message.

#include <gtest/gtest.h>

#include <string>

#include "platform/arguments.hpp"

namespace georef::platform {
namespace {

TEST(Arguments, DigitsOnlyForWholeNumbersAndFiniteNumbersForMeasures) {
    EXPECT_EQ(ParseDigits("40571"), 40571);
    EXPECT_EQ(ParseDigits("0"), 0);
    EXPECT_EQ(ParseDigits("999999999"), 999999999);
    for (const char* text : {"", "+5", "-5", " 5", "5 ", "1e3", "5.0", "1000000000", "0x10"}) {
        EXPECT_FALSE(ParseDigits(text)) << "'" << text << "'";
    }
    EXPECT_EQ(ParsePositiveWhole("1698"), 1698);
    EXPECT_FALSE(ParsePositiveWhole("0"));
    EXPECT_FALSE(ParsePositiveWhole("000"));

    EXPECT_EQ(ParseFiniteNumber("12.5"), 12.5);
    EXPECT_EQ(ParseFiniteNumber("-0.4"), -0.4);
    EXPECT_EQ(ParseFiniteNumber("1e3"), 1000.0);
    for (const char* text : {"", "inf", "-inf", "nan", "1.5x", "1e999", "."}) {
        EXPECT_FALSE(ParseFiniteNumber(text)) << "'" << text << "'";
    }
}

TEST(Arguments, AnOptionTakesTheNextArgumentOrEndsAsAWrongCommandLine) {
    const char* argv[] = {"georef-batch", "--jobs", "4", "--config"};
    int k = 1;
    EXPECT_EQ(OptionValue(4, argv, k), "4");
    EXPECT_EQ(k, 2);
    k = 3;
    try {
        OptionValue(4, argv, k);
        FAIL() << "a value was found after the last argument";
    } catch (const Failure& e) {
        EXPECT_EQ(std::string(e.what()), "--config needs a value");
        EXPECT_EQ(e.Status(), ExitStatus::usage);
    }
    EXPECT_EQ(k, 3);
}

}  // namespace
}  // namespace georef::platform
