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
    // Each entry's path, and its attributes before and after the walk.
    const std::tuple<const char16_t*, A, A> tree[] = {
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
        // Links and junctions are neither entered nor changed.
        {u"C:\\Up\\T\\junction", kDir | kLink, kDir | kLink},
        {u"C:\\Up\\T\\junction\\victim", kRO, kRO},
        {u"C:\\Up\\T\\filelink", kLink | kRO, kLink | kRO},
    };
    // The start path with or without its separator (the fake finds nothing at a path with two
    // in a row), and none for the program's folder.
    fake.exeFolder = u"C:\\Up\\T";
    for (const Text start : {u"C:\\Up\\T", u"C:\\Up\\T\\", u""}) {
        fake.calls.clear();
        for (const auto& [path, before, after] : tree)
            fake.add(path, before);
        walk(start);
        for (const auto& [path, before, after] : tree)
            EXPECT_EQ(fake.attributesOf(path), after) << toUtf8(path);
        EXPECT_EQ(fake.calls.size(), 5u) << "only read-only files are changed";
    }
    EXPECT_NO_THROW(walk(u"C:\\Nowhere")) << "a missing start folder is nothing to walk";
}

// Each folder is listed once, its listing held open while its subfolders are walked: so every
// entry is handled once however the folder changes meanwhile (a listing of the fake does not
// change once open: only listing a folder again could see changes), and there is no limit on
// the number of entries (40,000 is past a 16-bit count).
TEST_F(WalkerTest, OneListingPerFolderHandlesEveryEntryOnceWithoutALimit) {
    fake.add(u"C:\\T", kDir);
    for (int i = 0; i < 40000; ++i)
        fake.add(u"C:\\T\\f" + fromUtf8(std::to_string(i)), kRO);
    fake.add(u"C:\\T\\last", kDir);
    fake.add(u"C:\\T\\last\\f", kRO);
    walk(u"C:\\T");
    EXPECT_EQ(fake.calls.size(), 40001u);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\last\\f"), 0u);
    EXPECT_EQ(fake.openListingCalls, 2) << "T and last, nothing else (nor . or ..)";
}

TEST_F(WalkerTest, AnErrorDeepInTheWalkEndsItAndClosesEveryListing) {
    fake.add(u"C:\\T", kDir);
    fake.add(u"C:\\T\\a", kDir);
    fake.add(u"C:\\T\\a\\b", kDir);
    fake.add(u"C:\\T\\a\\b\\locked", kRO);
    fake.add(u"C:\\T\\z", kRO);
    fake.failingSetAttributes.insert(u"C:\\T\\a\\b\\locked");
    EXPECT_THROW(walker.Change(u"C:\\T"), PlatformError);
    EXPECT_EQ(fake.openListings(), 0);
    EXPECT_EQ(fake.attributesOf(u"C:\\T\\z"), kRO) << "nothing changes after the error";
}

} // namespace
} // namespace pellatrix::testing
