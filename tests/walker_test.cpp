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
        EXPECT_EQ(fake.unheldCalls, 0) << "the walk names only what its listings gave out";
    }
};

TEST_F(WalkerTest, ClearsReadOnlyOnEveryFileItReachesAndChangesNothingElse) {
    const struct {
        const char16_t* path;
        A before, after;
    } tree[] = {
        {u"C:\\Up", kDir | kRO | kArchive, kDir | kRO | kArchive},    // above the start
        {u"C:\\Up\\T", kDir | kRO | kArchive, kDir | kRO | kArchive}, // the start
        {u"C:\\Up\\T\\a.txt", kArchive | kRO, kArchive},
        {u"C:\\Up\\T\\hidden-ro", kRO | kHidden | kSystem, kHidden | kSystem},
        {u"C:\\Up\\T\\hidden", kHidden, kHidden},
        {u"C:\\Up\\T\\.profile", kRO, 0},
        // Every folder is entered, whatever its other bits and its name, and keeps its bits.
        {u"C:\\Up\\T\\ro", kDir | kRO | kArchive, kDir | kRO | kArchive},
        {u"C:\\Up\\T\\ro\\f", kRO, 0},
        {u"C:\\Up\\T\\.cache", kDir | kHidden | kSystem, kDir | kHidden | kSystem},
        {u"C:\\Up\\T\\.cache\\deeper", kDir, kDir},
        {u"C:\\Up\\T\\.cache\\deeper\\f", kArchive | kRO, kArchive},
        {u"C:\\Up\\T\\.cache\\writable", kArchive, kArchive},
        // Links and junctions are neither entered nor changed.
        {u"C:\\Up\\T\\junction", kDir | kLink, kDir | kLink},
        {u"C:\\Up\\T\\junction\\victim", kRO, kRO},
        {u"C:\\Up\\T\\filelink", kLink | kRO, kLink | kRO},
    };
    // The start path with or without its separator, and none for the program's folder.
    fake.exeFolder = u"C:\\Up\\T";
    for (const Text start : {u"C:\\Up\\T", u"C:\\Up\\T\\", u""}) {
        fake.setAttributeCalls = 0;
        for (const auto& entry : tree)
            fake.addFile(entry.path, entry.before);
        walk(start);
        for (const auto& entry : tree)
            EXPECT_EQ(fake.attributesOf(entry.path), entry.after) << narrow(entry.path);
        EXPECT_EQ(fake.setAttributeCalls, 5) << "only read-only files are changed";
    }
    for (const std::string& call : fake.calls)
        EXPECT_EQ(call.find("\\\\"), std::string::npos) << "one separator: " << call;
    EXPECT_NO_THROW(walk(u"C:\\Nowhere")) << "a missing start folder is nothing to walk";
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
    EXPECT_EQ(fake.setAttributeCalls, 3) << "before, after1 and after2, each once";
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

} // namespace
} // namespace pellatrix::testing
