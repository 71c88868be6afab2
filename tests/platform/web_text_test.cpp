// Page text and URL paths: what a page or an address may not carry as it is
// is escaped, everything else passes unchanged, byte for byte.

#include <gtest/gtest.h>

#include <string>

#include "platform/web_text.hpp"

namespace georef::platform {
namespace {

TEST(WebText, EscapesTheFourCharactersThatEndTextOrAnAttribute) {
    EXPECT_EQ(EscapeHtml("<script>alert(\"x\")</script>"), "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;");
    // An '&' already escaped is escaped again: the text is shown as it was.
    EXPECT_EQ(EscapeHtml("a &amp; b"), "a &amp;amp; b");
    EXPECT_EQ(EscapeHtml(""), "");
    // Single quotes, UTF-8 letters and control bytes are left alone.
    const std::string plain = "it's 34\xC2\xB0" "00' \xC4\x8C" "esk\xC3\xA1\t";
    EXPECT_EQ(EscapeHtml(plain), plain);
    const std::string zero("a\0b", 3);
    EXPECT_EQ(EscapeHtml(zero), zero);
}

TEST(WebText, PercentEncodesEveryByteButUnreservedOnesAndSlashes) {
    EXPECT_EQ(PercentEncodePath("/tmp/demo-out/tiles/review/index.html"), "/tmp/demo-out/tiles/review/index.html");
    EXPECT_EQ(PercentEncodePath("a_b.c~d-E9"), "a_b.c~d-E9");
    // Characters that end or change a URL's path, and '%' itself.
    EXPECT_EQ(PercentEncodePath("my scans/40571 #2?.jpg"), "my%20scans/40571%20%232%3F.jpg");
    EXPECT_EQ(PercentEncodePath("100%"), "100%25");
    EXPECT_EQ(PercentEncodePath("a&b=c;d+e:f@g\\h\"'"), "a%26b%3Dc%3Bd%2Be%3Af%40g%5Ch%22%27");
    // A UTF-8 letter is one %XX per byte, with capital hex digits; so are
    // bytes of other encodings and a NUL.
    EXPECT_EQ(PercentEncodePath("\xC4\x8C"), "%C4%8C");
    EXPECT_EQ(PercentEncodePath("\xE8\xFF"), "%E8%FF");
    EXPECT_EQ(PercentEncodePath(std::string("\0", 1)), "%00");
    EXPECT_EQ(PercentEncodePath(""), "");
}

}  // namespace
}  // namespace georef::platform
