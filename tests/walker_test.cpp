// The read-only removal walk on the fake platform.
#include "fake_platform.h"
#include "walker/lost_read_only_dir.h"

#include "platform/platform_error.h"

#include <gtest/gtest.h>

namespace pellatrix::testing {
namespace {

using A = std::uint32_t;
constexpr A kRO = FileAttribute::ReadOnly, kHidden = FileAttribute::Hidden,
            kSystem = FileAttribute::System, kDir = FileAttribute::Directory,
            kArchive = FileAttribute::Archive, kLink = FileAttribute::ReparsePoint;

class WalkerTest : public ::testing::Test {
  protected:
    FakePlatform fake;
    LostReadOnlyDir walker{fake};

    void walk(const Text& path) {
        walker.Change(path);
        EXPECT_EQ(fake.openListings(), 0) << "every listing is closed";
    }
};

TEST_F(WalkerTest, ClearsReadOnlyAloneAndLeavesWritableFilesUntouched) {
    fake.addFolder(u"C:\\T");
    fake.addFile(u"C:\\T\\a.txt", kArchive | kRO);
    fake.addFolder(u"C:\\T\\sub");
    fake.addFile(u"C:\\T\\sub\\b.txt", kArchive | kRO);
    fake.addFile(u"C:\\T\\sub\\c.txt", kArchive);
    fake.addFile(u"C:\\T\\hidden-ro", kRO | kHidden | kSystem);
    fake.addFile(u"C:\\T\\hidden", kHidden);
    walk(u"C:\\T");
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\a.txt"), kArchive);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\sub\\b.txt"), kArchive);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\hidden-ro"), kHidden | kSystem);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\hidden"), kHidden);
    EXPECT_EQ(fake.setAttributeCalls, 3) << "writable files are not touched";
}

TEST_F(WalkerTest, EntersEveryFolderWhateverItsOtherBitsAndKeepsFolderAttributes) {
    fake.addFolder(u"C:\\T");
    fake.addFolder(u"C:\\T\\ro", kDir | kRO);
    fake.addFolder(u"C:\\T\\archived", kDir | kArchive | kRO);
    fake.addFolder(u"C:\\T\\.cache", kDir);
    fake.addFile(u"C:\\T\\ro\\f", kRO);
    fake.addFile(u"C:\\T\\archived\\f", kRO);
    fake.addFile(u"C:\\T\\.cache\\f", kRO);
    fake.addFile(u"C:\\T\\.profile", kRO);
    walk(u"C:\\T");
    for (const Text file :
         {u"C:\\T\\ro\\f", u"C:\\T\\archived\\f", u"C:\\T\\.cache\\f", u"C:\\T\\.profile"})
        EXPECT_EQ(fake.attributesOf(file), 0u) << narrow(file);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\ro"), kDir | kRO);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\archived"), kDir | kArchive | kRO);
}

TEST_F(WalkerTest, NeverChangesTheStartFolderNorAnythingAboveIt) {
    fake.addFolder(u"C:\\Up", kDir | kRO | kArchive);
    fake.addFolder(u"C:\\Up\\T", kDir | kRO | kArchive);
    fake.addFile(u"C:\\Up\\T\\f", kRO);
    walk(u"C:\\Up\\T");
    EXPECT_EQ(fake.attributesOf(u"C:\\Up"), kDir | kRO | kArchive);
    EXPECT_EQ(fake.attributesOf(u"C:\\Up\\T"), kDir | kRO | kArchive);
    EXPECT_EQ(fake.setAttributeCalls, 1);
}

TEST_F(WalkerTest, NeitherEntersNorChangesLinksAndJunctions) {
    fake.addFolder(u"C:\\Outside");
    fake.addFile(u"C:\\Outside\\victim", kRO);
    fake.addFolder(u"C:\\T");
    fake.addFolder(u"C:\\T\\junction", kDir | kLink);
    fake.addFile(u"C:\\T\\junction\\victim", kRO); // what the junction would show
    fake.addFile(u"C:\\T\\filelink", kLink | kRO);
    walk(u"C:\\T");
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\junction\\victim"), kRO);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\filelink"), kLink | kRO);
    EXPECT_EQ(fake.setAttributeCalls, 0);
}

TEST_F(WalkerTest, StartPathWithOrWithoutSeparatorWalksTheSameWay) {
    fake.addFolder(u"C:\\T");
    fake.addFolder(u"C:\\T\\sub");
    fake.addFile(u"C:\\T\\sub\\f", kRO);
    walk(u"C:\\T");
    const auto withoutSeparator = fake.calls;
    fake.calls.clear();
    fake.addFile(u"C:\\T\\sub\\f", kRO);
    walk(u"C:\\T\\");
    EXPECT_EQ(fake.calls, withoutSeparator);
    EXPECT_EQ(withoutSeparator.front(), "openListing C:\\T\\*.*");
}

TEST_F(WalkerTest, EmptyPathWalksTheExecutableFolder) {
    fake.exeFolder = u"D:\\Program";
    fake.addFolder(u"D:\\Program");
    fake.addFile(u"D:\\Program\\f", kRO);
    walk(u"");
    EXPECT_EQ(fake.attributesOf(u"D:\\Program\\f"), 0u);
}

TEST_F(WalkerTest, MissingStartFolderIsSkippedSilently) {
    EXPECT_NO_THROW(walk(u"C:\\Nowhere"));
    EXPECT_EQ(fake.setAttributeCalls, 0);
}

TEST_F(WalkerTest, HandlesEveryEntryOnceWhileTheFolderChangesDuringTheWalk) {
    fake.addFolder(u"C:\\T");
    fake.addFile(u"C:\\T\\before", kRO);
    fake.addFolder(u"C:\\T\\sub");
    fake.addFile(u"C:\\T\\after1", kRO);
    fake.addFile(u"C:\\T\\after2", kRO);
    // While the subfolder is walked, another process adds and removes entries above it.
    fake.onOpenListing = [&](const Text& pattern) {
        if (pattern == u"C:\\T\\sub\\*.*") {
            fake.addFile(u"C:\\T\\aaa-new", kRO);
            fake.remove(u"C:\\T\\before");
        }
    };
    walk(u"C:\\T");
    std::map<std::string, int> handled;
    for (const auto& call : fake.calls)
        if (call.starts_with("setAttributes"))
            ++handled[call];
    EXPECT_EQ(handled.size(), 3u);
    for (const auto& [call, count] : handled)
        EXPECT_EQ(count, 1) << call;
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\after1"), 0u);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\after2"), 0u);
}

TEST_F(WalkerTest, AnErrorDeepInTheWalkEscapesAndClosesEveryListing) {
    fake.addFolder(u"C:\\T");
    fake.addFolder(u"C:\\T\\a");
    fake.addFolder(u"C:\\T\\a\\b");
    fake.addFile(u"C:\\T\\a\\b\\locked", kRO);
    fake.addFile(u"C:\\T\\z", kRO);
    fake.failingSetAttributes.insert(u"C:\\T\\a\\b\\locked");
    try {
        walker.Change(u"C:\\T");
        FAIL() << "the error must escape";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.path(), u"C:\\T\\a\\b\\locked");
    }
    EXPECT_EQ(fake.openListings(), 0);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\z"), kRO) << "nothing changes after the error";
}

TEST_F(WalkerTest, FortyThousandEntriesInOneFolderHaveNoLimit) {
    fake.addFolder(u"C:\\T");
    for (int i = 0; i < 40000; ++i) {
        const std::string name = "C:\\T\\f" + std::to_string(i);
        fake.addFile(Text(name.begin(), name.end()), kRO);
    }
    fake.addFolder(u"C:\\T\\last");
    fake.addFile(u"C:\\T\\last\\f", kRO);
    walk(u"C:\\T");
    EXPECT_EQ(fake.setAttributeCalls, 40001);
    const auto listings = std::count_if(fake.calls.begin(), fake.calls.end(),
                                        [](const auto& c) { return c.starts_with("openListing"); });
    EXPECT_EQ(listings, 2) << "no repositioning: one listing per folder";
}

TEST(ChopTest, CutsAtTheFirstNul) {
    EXPECT_EQ(LostReadOnlyDir::Chop(u"abc"), u"abc");
    EXPECT_EQ(LostReadOnlyDir::Chop(Text(u"\0abc", 4)), u"");
    EXPECT_EQ(LostReadOnlyDir::Chop(Text(u"ab\0cd", 5)), u"ab");
    EXPECT_EQ(LostReadOnlyDir::Chop(Text(40000, u'x')).size(), 40000u) << "no 16-bit limit";
}

} // namespace
} // namespace pellatrix::testing
