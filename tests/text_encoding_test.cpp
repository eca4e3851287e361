// UTF-8 <-> UTF-16, including bytes that are not valid UTF-8.
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace pellatrix {
namespace {

TEST(TextEncodingTest, ValidTextRoundTripsInEveryScript) {
    for (const std::string s : {"", "plain.txt", "データ.bin", "Ελληνικά", "😀 emoji",
                                "a\xC2\xA0"
                                "b"})
        EXPECT_EQ(toUtf8(fromUtf8(s)), s);
    EXPECT_EQ(fromUtf8("データ"), u"データ");
    EXPECT_EQ(fromUtf8("😀"), u"😀");
}

TEST(TextEncodingTest, InvalidBytesTravelAsLoneSurrogatesAndComeBackUnchanged) {
    const std::string cases[] = {"\xFF",
                                 "a\x80z",
                                 "\xC0\xAF" /* overlong */,
                                 "\xED\xA0\x80" /* surrogate */,
                                 "\xE3\x83" /* truncated */,
                                 "\xF4\x90\x80\x80" /* above U+10FFFF */,
                                 "latin1 caf\xE9"};
    for (const std::string& s : cases) {
        const Text text = fromUtf8(s);
        EXPECT_EQ(toUtf8(text), s);
        for (char16_t u : text) {
            if (u >= 0xD800 && u <= 0xDFFF) {
                EXPECT_TRUE(u >= 0xDC80 && u <= 0xDCFF);
            }
        }
    }
    EXPECT_EQ(fromUtf8("caf\xE9"), Text(u"caf\xDCE9"));
}

} // namespace
} // namespace pellatrix
