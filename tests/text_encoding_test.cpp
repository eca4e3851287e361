// UTF-8 <-> UTF-16, including bytes that are not valid UTF-8. That every byte string comes back
// unchanged, and that only U+DC80 to U+DCFF stand for invalid bytes, is the fuzz target's to
// check (tests/fuzz/): these are the values themselves.
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace pellatrix {
namespace {

TEST(TextEncodingTest, ScriptsAndInvalidBytes) {
    EXPECT_EQ(fromUtf8("データ 😀"), u"データ 😀");
    EXPECT_EQ(toUtf8(u"データ 😀"), "データ 😀");
    EXPECT_EQ(fromUtf8("caf\xE9"), Text(u"caf\xDCE9"));
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), Text(u"\xDCED\xDCA0\xDC80")) << "an encoded surrogate";
    EXPECT_EQ(toUtf8(Text(u"caf\xDCE9")), "caf\xE9");
}

} // namespace
} // namespace pellatrix
