// Where HeldPaths places paths that a walk does not name: the walk's own are checked on every
// walk of the fake platform (walker_test.cpp).
#include "platform/held_paths.h"

#include <gtest/gtest.h>

namespace pellatrix {
namespace {

bool exact(std::u16string_view a, std::u16string_view b) {
    return a == b;
}

bool ignoringCase(std::u16string_view a, std::u16string_view b) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

TEST(HeldPathsTest, TheDeepestHeldFolderOrNothingAndNamesCompareAsTheFileSystemDoes) {
    HeldPaths paths(ignoringCase);
    paths.hold(1, u"C:");
    paths.hold(2, u"C:\\Tolvex\\Model\\");
    HeldPaths::Place at = paths.place(u"c:\\tolvex\\MODEL\\sub\\deeper");
    EXPECT_EQ(at.from, 2);
    EXPECT_EQ(at.below, u"sub\\deeper");
    EXPECT_EQ(paths.place(u"C:\\Tolvex\\Modelx").below, u"Tolvex\\Modelx") << "not inside Model";
    at = paths.place(u"D:\\Model\\");
    EXPECT_EQ(at.from, 0);
    EXPECT_EQ(at.below, u"D:\\Model") << "the whole path, for the platform to open";
    HeldPaths exactly(exact);
    exactly.hold(1, u"C:");
    EXPECT_EQ(exactly.place(u"c:\\x").from, 0) << "C: and c: differ where names compare exactly";
}

TEST(HeldPathsTest, ListingsBelowOneClosedEarlyKeepTheirPathsAndUnusableOnesArePassedOver) {
    HeldPaths paths(exact);
    paths.opened(10, u"C:\\T\\", paths.place(u"C:\\T"));
    paths.gave(10, u"a");
    const HeldPaths::Place a = paths.place(u"C:\\T\\a\\");
    EXPECT_TRUE(a.from == 10 && a.listedLast);
    paths.opened(11, u"C:\\T\\a", a);
    paths.gave(11, u"b");
    EXPECT_TRUE(paths.isListedLast(paths.place(u"C:\\T\\a"), u"b"));
    EXPECT_FALSE(paths.isListedLast(paths.place(u"C:\\T\\a"), u"c"));
    paths.opened(12, u"C:\\T\\a\\b", paths.place(u"C:\\T\\a\\b"));
    EXPECT_EQ(paths.pathOf(12), u"C:\\T\\a\\b");

    paths.closed(11);
    EXPECT_EQ(paths.pathOf(12), u"C:\\T\\a\\b");
    EXPECT_EQ(paths.place(u"C:\\T\\a\\b\\c").below, u"c");
    const HeldPaths::Place passed =
        paths.place(u"C:\\T\\a\\b\\c", [](HeldPaths::Id id) { return id != 12; });
    EXPECT_EQ(passed.from, 10);
    EXPECT_EQ(passed.below, u"a\\b\\c");
    EXPECT_FALSE(passed.listedLast) << "10 gave out a, not a\\b\\c";
}

} // namespace
} // namespace pellatrix
