// The Linux rooms below the copy: path translation, resolution below a held folder, folder
// reading, DOS pattern matching and attributes.
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/linux/sys/beneath.h"
#include "platform/linux/sys/directory_reader.h"
#include "platform/linux/ui/display_text.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"
#include "temp_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/xattr.h>
#include <thread>

namespace pellatrix::linuxos {
namespace {

namespace fs = std::filesystem;
using namespace pellatrix::testing; // the temporary folder

TEST(DriveMappingTest, CIsTheDataFolderZIsTheRootAndThereIsNoOther) {
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
    for (const Text path : {u"D:\\x", u"relative\\x", u"\\\\server\\share", u"C:relative"})
        EXPECT_FALSE(drives.nativePathOf(path)) << std::string(path.begin(), path.end());
}

TEST(DisplayPathTest, NativePathsWithHomeAsTildeAndNothingThatActsOnATerminal) {
    setenv("HOME", "/home/u/", 1); // no other test here reads it
    const DriveMapping drives("/home/u/.local/share");
    const std::pair<Text, std::string> cases[] = {
        {u"C:\\Tolvex\\Model\\", "~/.local/share/Tolvex/Model"},
        {u"Z:\\home\\u", "~"},
        {u"Z:\\home\\u2\\x", "/home/u2/x"},
        {u"Z:\\", "/"},
        {u"Z:\\\x1b[2J\x1b[Hfake\tend\n", "/\\033[2J\\033[Hfake\\tend\\n"},
        {u"Z:\\c1 \u009b del \u007f", "/c1 \\302\\233 del \\177"},
        {drives.windowsPathOf("/x/caf\xE9"), "/x/caf\\351"},
        {drives.windowsPathOf("/a\\b"), "/a\\\\b"},
        {u"Z:\\\u30c7\u30fc\u30bf \U0001F600", "/\u30c7\u30fc\u30bf \U0001F600"},
        {u"no path: \x1b", "no path: \\033"},
    };
    for (const auto& [windows, shown] : cases)
        EXPECT_EQ(displayPath(drives, windows), shown) << shown;
}

// Both ways of resolving (openat2 and the component walk) refuse the same paths.
class BeneathTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        useComponentWalkForTesting(GetParam());
        std::filesystem::create_directories(temp / "root/a/b");
        std::filesystem::create_directories(temp / "outside/b");
        std::filesystem::create_directory_symlink(temp / "outside", temp / "root/link");
        root = UniqueFd(open((temp / "root").c_str(), O_PATH | O_DIRECTORY));
    }
    void TearDown() override { useComponentWalkForTesting(false); }
    // 0 when relative opens (make: with the folders missing on the way made), else errno.
    int errorOpening(const char* relative, bool make = false) {
        errno = 0;
        const UniqueFd opened = make ? makeFoldersBeneath(root.get(), relative)
                                     : openBeneath(root.get(), relative, O_RDONLY | O_DIRECTORY);
        return opened ? 0 : errno;
    }

    TempFolder temp;
    UniqueFd root;
};

TEST_P(BeneathTest, NeverThroughALinkNorAboveTheRoot) {
    EXPECT_EQ(errorOpening("a/b"), 0);
    EXPECT_EQ(errorOpening(""), 0) << "the root itself";
    EXPECT_EQ(errorOpening("link"), ELOOP) << "a link as the last component";
    EXPECT_EQ(errorOpening("link/b"), ELOOP) << "a link on the way";
    EXPECT_EQ(errorOpening("a/../../outside"), EXDEV);
    EXPECT_EQ(errorOpening("a/missing"), ENOENT);
}

TEST_P(BeneathTest, MakingFoldersStopsAtALinkOrAFile) {
    constexpr bool kMake = true;
    EXPECT_EQ(errorOpening("a/new/deeper", kMake), 0);
    EXPECT_TRUE(std::filesystem::is_directory(temp / "root/a/new/deeper"));
    EXPECT_EQ(errorOpening("link/b/c", kMake), ELOOP);
    EXPECT_FALSE(std::filesystem::exists(temp / "outside/b/c"));
    writeFile(temp / "root/file", "x");
    EXPECT_EQ(errorOpening("file/c", kMake), ENOTDIR);
}

INSTANTIATE_TEST_SUITE_P(BothWays, BeneathTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ComponentWalk" : "Openat2"; });

TEST(DirectoryReaderTest, PutAsideAndTakenUpGivesEachEntryOnce) {
    TempFolder temp;
    std::set<std::string> expected;
    for (int i = 0; i < 2000; ++i) // several getdents64 buffers' worth
        expected.insert(std::to_string(i) + std::string(40, 'x'));
    for (const std::string& name : expected)
        writeFile(temp / name, "");
    const auto openFolder = [&] {
        return UniqueFd(open(temp.path().c_str(), O_RDONLY | O_DIRECTORY));
    };

    DirectoryReader reader(openFolder());
    std::multiset<std::string> seen;
    DirectoryReader::Entry entry;
    for (int i = 0; reader.next(entry) == DirectoryReader::Step::Entry; ++i) {
        seen.emplace(entry.name);
        if (i % 300 == 7) {
            ASSERT_TRUE(reader.putAside());
            EXPECT_EQ(reader.fd(), -1);
            ASSERT_TRUE(reader.takeUp(openFolder()));
        }
    }
    EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
}

// "*.*" matching names without a dot, and patterns ignoring case, are the contract's. The last
// pattern is pathological: the match must end, and quickly.
TEST(WildcardTest, DosMeaningOfStarAndQuestionMark) {
    for (const auto& [pattern, name, matches] :
         {std::tuple<Text, Text, bool>{u"*.*", u"a.b.c", true},
          {u"*.txt", u"a.txt.bak", false},
          {u"?.dat", u"x.dat", true},
          {u"?.dat", u"xy.dat", false},
          {u"データ*", u"データ.bin", true},
          {u"a*b*c*d*e*f*g", Text(5000, u'a'), false}})
        EXPECT_EQ(matchesWildcard(pattern, name), matches) << toUtf8(pattern);
}

TEST(FileAttributesTest, ReadOnlyClearingRespectsWhoMayReadAndLinksAreReparsePoints) {
    TempFolder temp;
    // Group and others get a write bit only where they may read, and none that the umask
    // forbids.
    const mode_t oldMask = umask(022);
    for (const auto& [name, mode, cleared] :
         {std::tuple{"private", 0400, 0600}, {"shared", 0444, 0644}}) {
        writeFile(temp / name, "x");
        fs::permissions(temp / name, fs::perms(mode));
        setAttributesAt(AT_FDCWD, (temp / name).string(), 0, u"f");
        EXPECT_EQ(fs::status(temp / name).permissions(), fs::perms(cleared)) << name;
    }
    umask(oldMask);

    // A link is a reparse point, whatever it points at: its target is never looked up.
    fs::create_symlink(temp / "shared", temp / "file-link");
    fs::create_directory_symlink(temp.path(), temp / "dir-link");
    std::uint32_t attributes = 0;
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "file-link").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::ReparsePoint);
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "dir-link").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::ReparsePoint);
    EXPECT_THROW(setAttributesAt(AT_FDCWD, (temp / "file-link").string(), 0, u"file-link"),
                 std::system_error);

    // Of a stored value, only hidden and system count: read-only comes from the permissions
    // alone, as Wine 8 reads it (a writable file whose value says read-only is writable there),
    // so that both builds agree on a disk.
    EXPECT_EQ(parseDosAttributes("0x27", 4), FileAttribute::Hidden | FileAttribute::System);
    EXPECT_EQ(parseDosAttributes("26", 2), 0u) << "hex digits without 0x";
}

TEST(FileAttributesTest, AStoredReadOnlyBitIsClearedEvenWhenStoredSinceTheEarlierRead) {
    // Clearing read-only may take the stored attribute from a read made a moment before, while
    // the file's inode and change time say that it has not changed; one stored in between, with
    // a read-only bit, must still lose that bit.
    TempFolder temp;
    writeFile(temp / "f", "x");
    makeReadOnly(temp / "f");
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // older than the time step
    std::uint32_t attributes = 0;
    EntryRead earlier;
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "f").string(), attributes, &earlier));
    EXPECT_EQ(attributes, FileAttribute::Archive | FileAttribute::ReadOnly);
    EXPECT_TRUE(earlier.storedSure);
    ASSERT_EQ(setxattr((temp / "f").c_str(), kDosAttributeName, "0x21", 4, 0), 0);
    setAttributesAt(AT_FDCWD, (temp / "f").string(), FileAttribute::Archive, u"f", &earlier);
    char stored[16] = {};
    ASSERT_GT(getxattr((temp / "f").c_str(), kDosAttributeName, stored, sizeof stored - 1), 0);
    EXPECT_STREQ(stored, "0x20");
}

} // namespace
} // namespace pellatrix::linuxos
