// The parsers of georef-review's requests: refusals first, with their
// statuses, then what they take.

#include <gtest/gtest.h>

#include "workbench/request_parsing.hpp"

namespace georef::workbench {
namespace {

int StatusOf(const std::function<void()>& parse) {
    try {
        parse();
    } catch (const RequestError& error) {
        EXPECT_NE(std::string(error.what()), "");
        return error.Status();
    }
    return 0;
}

TEST(RequestParsing, RefusesWhatIsNoSheetNumberOrNumber) {
    for (const char* text : {"", "4057", "405712", "40571 ", "4057a", "../40571", "40575", "33571", "-4057"}) {
        EXPECT_EQ(StatusOf([&] { ParseSheetNumber(text); }), 400) << text;
    }
    for (const char* text : {"", "-", "1e3", "0x10", " 1", "1234567890", "100001", "-100001", "1.5"}) {
        EXPECT_EQ(StatusOf([&] { ParseWhole(text, -100000, 100000, "n"); }), 400) << text;
    }
    EXPECT_EQ(ParseSheetNumber("40571"), 40571);
    EXPECT_EQ(ParseWhole("-100000", -100000, 100000, "n"), -100000);
    EXPECT_EQ(ParseWhole("007", 0, 10, "n"), 7);
}

TEST(RequestParsing, TakesFourFiniteCornersNearTheScanOnly) {
    const int w = 3000, h = 2000;
    for (const std::string& body :
         {std::string(), std::string("{"), std::string("null"), std::string("{\"corners\": 4}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, \"8\"]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 1e999]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [-9000, 8]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8], [9, 10]]}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8]], \"acceptMirrored\": 1}"),
          std::string("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8]], \"acceptMirrored\": \"true\"}")}) {
        EXPECT_EQ(StatusOf([&] { ParseCornerBody(body, w, h); }), 400) << body;
    }
    EXPECT_EQ(StatusOf([&] { ParseCornerBody(std::string(kMaxBodyBytes + 1, ' '), w, h); }), 413);
    const CornerBody taken =
        ParseCornerBody("{\"corners\": [[10.25, 1990], [12, 9.5], [2990, 11], [2988, 1989]]}", w, h);
    EXPECT_DOUBLE_EQ(taken.corners[0].column, 10.25);
    EXPECT_DOUBLE_EQ(taken.corners[1].row, 9.5);
    EXPECT_DOUBLE_EQ(taken.corners[3].row, 1989.0);
    EXPECT_FALSE(taken.acceptMirrored);
    EXPECT_TRUE(ParseCornerBody("{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8]], \"acceptMirrored\": true}", w, h)
                    .acceptMirrored);
}

TEST(RequestParsing, FindsTheTokenCookieAmongOthers) {
    EXPECT_EQ(CookieValue("", "georef_review"), "");
    EXPECT_EQ(CookieValue("georef_reviewer=x; xgeoref_review=y", "georef_review"), "");
    EXPECT_EQ(CookieValue("a=1; georef_review=abc; b=2", "georef_review"), "abc");
    EXPECT_EQ(CookieValue("georef_review=", "georef_review"), "");
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_FALSE(SameSecret("abd", "abc"));
    EXPECT_FALSE(SameSecret("ab", "abc"));
    EXPECT_FALSE(SameSecret("abcd", "abc"));
    EXPECT_FALSE(SameSecret("", "abc"));
}

}  // namespace
}  // namespace georef::workbench
