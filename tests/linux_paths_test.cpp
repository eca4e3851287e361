// Linux path translation and DOS pattern matching.
#include "platform/platform_error.h"
#include "platform/linux/drive_mapping.h"
#include "platform/linux/wildcard_match.h"

#include <gtest/gtest.h>

namespace pellatrix::linux {
namespace {

TEST(DriveMappingTest, CIsTheDataFolderAndZIsTheRoot) {
    const DriveMapping drives("/home/u/.local/share/");
    EXPECT_EQ(drives.nativePathOf(u"C:\\Tolvex\\Model\\"), "/home/u/.local/share/Tolvex/Model/");
    EXPECT_EQ(drives.nativePathOf(u"c:\\Tolvex"), "/home/u/.local/share/Tolvex");
    EXPECT_EQ(drives.nativePathOf(u"Z:\\media\\cd\\Model\\*.*"), "/media/cd/Model/*.*");
    EXPECT_EQ(drives.nativePathOf(u"Z:\\"), "/");
    EXPECT_EQ(drives.windowsPathOf("/media/cd"), u"Z:\\media\\cd");
    EXPECT_EQ(drives.windowsPathOf("/"), u"Z:\\");
    EXPECT_EQ(drives.windowsPathOf("/home/u/.local/share/Tolvex"), u"C:\\Tolvex");
    EXPECT_EQ(drives.windowsPathOf("/home/u/.local/share"), u"C:\\");
    EXPECT_EQ(drives.windowsPathOf("/home/u/.local/shared"), u"Z:\\home\\u\\.local\\shared")
        << "a sibling that shares the prefix is not on C:";
}

TEST(DriveMappingTest, UnknownDrivesAndRelativePathsAreErrors) {
    const DriveMapping drives("/data");
    for (const Text path : {u"D:\\x", u"relative\\x", u"\\\\server\\share", u"C:relative"})
        EXPECT_THROW(drives.nativePathOf(path), PlatformError) << std::string(path.begin(), path.end());
}

TEST(DriveMappingTest, NamesThatAreNotUtf8RoundTrip) {
    const DriveMapping drives("/data");
    const std::string native = "/media/cd/caf\xE9/\xFF\xFE";
    EXPECT_EQ(drives.nativePathOf(drives.windowsPathOf(native)), native);
}

TEST(DriveMappingTest, ABackslashInALinuxNameStaysPartOfTheName) {
    const DriveMapping drives("/data");
    const Text windows = drives.windowsPathOf("/media/a\\b");
    EXPECT_EQ(windows.rfind(u'\\'), 8u) << "one separator before the name";
    EXPECT_EQ(drives.nativePathOf(windows), "/media/a\\b");
    EXPECT_EQ(drives.nativePathOf(windows + u"\\c"), "/media/a\\b/c");
    const std::string privateUse = "/media/x\xEF\x81\x9Cy\\z"; // U+F05C itself in a name
    EXPECT_EQ(drives.nativePathOf(drives.windowsPathOf(privateUse)), privateUse);
}

TEST(WildcardTest, DosMeaningOfStarAndQuestionMark) {
    EXPECT_TRUE(matchesWildcard(u"*.*", u"noextension"));
    EXPECT_TRUE(matchesWildcard(u"*.*", u".profile"));
    EXPECT_TRUE(matchesWildcard(u"*.*", u"a.b.c"));
    EXPECT_TRUE(matchesWildcard(u"*", u"anything.at.all"));
    EXPECT_TRUE(matchesWildcard(u"*.TXT", u"read me.txt"));
    EXPECT_FALSE(matchesWildcard(u"*.txt", u"a.txt.bak"));
    EXPECT_TRUE(matchesWildcard(u"?.dat", u"x.dat"));
    EXPECT_FALSE(matchesWildcard(u"?.dat", u"xy.dat"));
    EXPECT_TRUE(matchesWildcard(u"データ*", u"データ.bin"));
    EXPECT_FALSE(matchesWildcard(u"a*b*c*d*e*f*g", Text(5000, u'a')))
        << "a pathological pattern ends (and quickly)";
}

} // namespace
} // namespace pellatrix::linux
