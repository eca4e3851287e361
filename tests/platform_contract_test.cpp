// What every platform implementation promises, checked on real folders: attributes, listings
// and the shell copy. The same suite runs on Linux and, cross-built, under Wine.
#include "contract_fixture.h"
#include "platform/platform_error.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace pellatrix::testing {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kRO = FileAttribute::ReadOnly, kHidden = FileAttribute::Hidden,
                        kSystem = FileAttribute::System, kDir = FileAttribute::Directory,
                        kArchive = FileAttribute::Archive, kLink = FileAttribute::ReparsePoint;
// The bits the contract fixes; the others (normal, not-indexed, ...) vary by system.
constexpr std::uint32_t kContractBits = kRO | kHidden | kSystem | kDir | kArchive | kLink;

class ContractTest : public ::testing::Test {
  protected:
    TempFolder temp; // outlives the platform, which may hold folders in it
    std::unique_ptr<PlatformServices> platform = makePlatformUnderTest();

    Text at(const fs::path& relative) { return platformPathOf(temp / relative); }
    std::uint32_t attributes(const fs::path& relative) {
        return platform->readAttributes(at(relative)) & kContractBits;
    }

    // Closes a listing on every way out.
    struct Listing {
        PlatformServices& platform;
        ListingHandle handle;
        ~Listing() {
            if (handle != kInvalidListing)
                platform.closeListing(handle);
        }
    };

    // name -> attributes of one listing, in order, with the name order kept separately.
    std::vector<std::pair<Text, std::uint32_t>> list(const Text& pattern) {
        std::vector<std::pair<Text, std::uint32_t>> entries;
        FindData data;
        const Listing listing{*platform, platform->openListing(pattern, data)};
        if (listing.handle == kInvalidListing)
            return entries;
        do {
            const Text name(data.cFileName.data());
            entries.emplace_back(name, data.dwFileAttributes & kContractBits);
        } while (platform->advanceListing(listing.handle, data));
        return entries;
    }

    int copy(const fs::path& sourceFolder, const fs::path& destination) {
        FileOpStruct op;
        op.wFunc = ShellOperation::Copy;
        op.pFrom = platformPathOf(sourceFolder) + u"\\*.*" + Text(2, u'\0');
        op.pTo = platformPathOf(destination) + u"\\" + Text(2, u'\0');
        op.fFlags = ShellFlag::NoConfirmation;
        return platform->shellFileOperation(op);
    }
};

TEST_F(ContractTest, AttributesOfFilesAndFoldersRoundTrip) {
    writeFile(temp / "plain.txt", "x");
    writeFile(temp / "ro.txt", "x");
    makeReadOnly(temp / "ro.txt");
    fs::create_directory(temp / "folder");
    EXPECT_EQ(attributes("plain.txt"), kArchive);
    EXPECT_EQ(attributes("ro.txt"), kArchive | kRO);
    EXPECT_EQ(attributes("folder"), kDir);

    platform->setAttributes(at("plain.txt"), kArchive | kHidden | kSystem | kRO);
    EXPECT_EQ(attributes("plain.txt"), kArchive | kHidden | kSystem | kRO);
    EXPECT_TRUE(isReadOnly(temp / "plain.txt"));
    platform->setAttributes(at("plain.txt"), kArchive | kHidden | kSystem);
    EXPECT_EQ(attributes("plain.txt"), kArchive | kHidden | kSystem) << "only read-only went";
    EXPECT_FALSE(isReadOnly(temp / "plain.txt"));
    platform->setAttributes(at("ro.txt"), 0);
    EXPECT_FALSE(isReadOnly(temp / "ro.txt"));
    writeFile(temp / "ro.txt", "now writable");
    EXPECT_EQ(readFile(temp / "ro.txt"), "now writable");
}

TEST_F(ContractTest, AStoredReadOnlyBitDoesNotMakeAWritableFileReadOnly) {
    // Wine reads read-only from the permissions alone; both builds agree on one disk.
    writeFile(temp / "writable", "x");
    std::string whyNot;
    if (!storeDosAttributes(temp / "writable", "0x3", whyNot))
        GTEST_SKIP() << whyNot;
    EXPECT_EQ(attributes("writable"), kArchive | kHidden);
}

TEST_F(ContractTest, MissingPathsRaiseErrorsThatNameThePath) {
    for (const auto& operation : {0, 1}) {
        try {
            if (operation == 0)
                platform->readAttributes(at("missing.txt"));
            else
                platform->setAttributes(at("missing.txt"), 0);
            FAIL() << "no error raised";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.path(), at("missing.txt"));
        }
    }
}

TEST_F(ContractTest, ListingGivesDotsFirstThenEveryEntryOnce) {
    writeFile(temp / "dir" / "a.txt", "");
    writeFile(temp / "dir" / "noextension", "");
    writeFile(temp / "dir" / ".profile", "");
    fs::create_directory(temp / "dir" / "sub");
    const auto entries = list(at("dir") + u"\\*.*");
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], std::make_pair(Text(u"."), kDir));
    EXPECT_EQ(entries[1], std::make_pair(Text(u".."), kDir));
    std::map<Text, std::uint32_t> rest(entries.begin() + 2, entries.end());
    EXPECT_EQ(rest.size(), entries.size() - 2) << "no entry twice";
    const std::map<Text, std::uint32_t> expected = {
        {u"a.txt", kArchive}, {u"noextension", kArchive}, {u".profile", kArchive}, {u"sub", kDir}};
    EXPECT_EQ(rest, expected);
}

TEST_F(ContractTest, ListingPatternsAndMissingFolders) {
    writeFile(temp / "a.txt", "");
    writeFile(temp / "B.TXT", "");
    writeFile(temp / "c.dat", "");
    const auto txt = list(at("") + u"*.txt");
    std::set<Text> names;
    for (const auto& entry : txt)
        names.insert(entry.first);
    EXPECT_EQ(names, (std::set<Text>{u"a.txt", u"B.TXT"})) << "patterns ignore case";
    EXPECT_TRUE(list(at("nowhere") + u"\\*.*").empty());
    EXPECT_TRUE(list(at("") + u"*.none").empty());
    const auto single = list(at("c.dat"));
    ASSERT_EQ(single.size(), 1u) << "a plain name lists that one entry";
    EXPECT_EQ(single[0], std::make_pair(Text(u"c.dat"), kArchive));
}

TEST_F(ContractTest, NamesInEveryScriptSurvive) {
    const Text names[] = {u"データ.bin", u"Ελληνικά", u"emoji 😀.txt", u"with space"};
    for (const Text& name : names)
        writeFile(temp / "scripts" / fs::path(name), "x");
    const auto entries = list(at("scripts") + u"\\*.*");
    std::set<Text> listed;
    for (const auto& entry : entries)
        listed.insert(entry.first);
    for (const Text& name : names) {
        EXPECT_TRUE(listed.count(name));
        EXPECT_EQ(platform->readAttributes(at("scripts") + u"\\" + name) & kContractBits, kArchive);
    }
}

// ---- Odd names: a rule that every platform shares ----

// The native path that keeps a name's trailing dot or space, which Windows' path parser drops
// unless the path comes in the "\\?\" form.
fs::path exactly(const fs::path& path) {
#ifdef _WIN32
    return L"\\\\?\\" + fs::absolute(path).lexically_normal().wstring();
#else
    return path;
#endif
}

// A trailing dot or space belongs to the name: "x." and "x" are two entries, each listed, read
// and changed as itself, and the folder "dir." is listed as itself.
TEST_F(ContractTest, NamesEndingInADotOrASpaceAreTheirOwn) {
    // Removed here, even when a check fails: TempFolder's paths cannot reach them on Windows.
    struct Removal {
        fs::path folder;
        ~Removal() {
            std::error_code ignored;
            for (const char* name : {"x.", "y ", "dir./in.txt", "dir."}) {
                fs::permissions(exactly(folder / name), fs::perms::owner_write,
                                fs::perm_options::add, ignored);
                fs::remove(exactly(folder / name), ignored);
            }
        }
    } removal{temp / "odd"};
    fs::create_directories(temp / "odd");
    for (const char* name : {"x.", "x", "y "})
        std::ofstream(exactly(temp / "odd" / name)) << name;
    fs::create_directory(exactly(temp / "odd" / "dir."));
    std::ofstream(exactly(temp / "odd" / "dir." / "in.txt")) << "in";
    makeReadOnly(exactly(temp / "odd" / "x."));
    makeReadOnly(exactly(temp / "odd" / "y "));

    std::set<Text> names;
    for (const auto& entry : list(at("odd") + u"\\*.*"))
        names.insert(entry.first);
    EXPECT_EQ(names, (std::set<Text>{u".", u"..", u"x.", u"x", u"y ", u"dir."}));
    EXPECT_EQ(list(at("odd") + u"\\dir.\\*.*").size(), 3u) << "dir. and not dir";
    const Text folder = at("odd") + u"\\";
    EXPECT_EQ(platform->readAttributes(folder + u"x.") & kContractBits, kArchive | kRO);
    EXPECT_EQ(platform->readAttributes(folder + u"x") & kContractBits, kArchive);
    platform->setAttributes(folder + u"x.", kArchive);
    platform->setAttributes(folder + u"y ", kArchive);
    EXPECT_FALSE(isReadOnly(exactly(temp / "odd" / "x.")));
    EXPECT_FALSE(isReadOnly(exactly(temp / "odd" / "y ")));
}

TEST_F(ContractTest, CopyMakesTheDestinationAndKeepsContentModesAndTimes) {
    writeFile(temp / "Model" / "a.txt", "alpha");
    writeFile(temp / "Model" / "ro.txt", "read only");
    writeFile(temp / "Model" / "sub" / "deep" / "b.txt", "beta");
    writeFile(temp / "Model" / ".hidden-name", "dot");
    const auto old = fs::last_write_time(temp / "Model" / "a.txt") - std::chrono::hours(48);
    fs::last_write_time(temp / "Model" / "a.txt", old);
    makeReadOnly(temp / "Model" / "ro.txt");
    platform->setAttributes(at(fs::path("Model") / "sub" / "deep" / "b.txt"), kArchive | kHidden);

    EXPECT_EQ(copy(temp / "Model", temp / "out" / "Model"), 0);
    EXPECT_EQ(readFile(temp / "out" / "Model" / "a.txt"), "alpha");
    EXPECT_EQ(readFile(temp / "out" / "Model" / "sub" / "deep" / "b.txt"), "beta");
    EXPECT_EQ(readFile(temp / "out" / "Model" / ".hidden-name"), "dot");
    EXPECT_TRUE(isReadOnly(temp / "out" / "Model" / "ro.txt")) << "read-only arrives read-only";
    EXPECT_EQ(attributes(fs::path("out") / "Model" / "sub" / "deep" / "b.txt"), kArchive | kHidden);
    const auto copiedTime = fs::last_write_time(temp / "out" / "Model" / "a.txt");
    EXPECT_LT(std::chrono::abs(copiedTime - old), std::chrono::seconds(2));
}

TEST_F(ContractTest, CopyReplacesFilesEvenReadOnlyOnesAndMergesFolders) {
    writeFile(temp / "Model" / "a.txt", "new");
    writeFile(temp / "Model" / "sub" / "b.txt", "new b");
    writeFile(temp / "dest" / "a.txt", "old");
    makeReadOnly(temp / "dest" / "a.txt");
    writeFile(temp / "dest" / "sub" / "kept.txt", "kept");
    writeFile(temp / "dest" / "kept.txt", "kept");

    EXPECT_EQ(copy(temp / "Model", temp / "dest"), 0);
    EXPECT_EQ(readFile(temp / "dest" / "a.txt"), "new");
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "b.txt"), "new b");
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "kept.txt"), "kept");
    EXPECT_EQ(readFile(temp / "dest" / "kept.txt"), "kept");
}

TEST_F(ContractTest, CopyOfASingleFileStillMakesAFolder) {
    writeFile(temp / "Model" / "only.dat", "one");
    EXPECT_EQ(copy(temp / "Model", temp / "dest" / "Model"), 0);
    EXPECT_TRUE(fs::is_directory(temp / "dest" / "Model"));
    EXPECT_EQ(readFile(temp / "dest" / "Model" / "only.dat"), "one");
}

// Faults of the disk and of other programs: each is an error naming the path, never the end of
// a folder, and never a way out of the folder being walked.

// Where the path an error names starts with `path`.
::testing::AssertionResult names(const PlatformError& error, const Text& path) {
    if (error.path().rfind(path, 0) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the error names another path";
}

TEST_F(ContractTest, AListingThatFailsAtOnceOrPartWayIsAnErrorNamingTheFolder) {
    std::string whyNot;
    const auto faulty = mountFaultyFolder(temp / "faulty", whyNot);
    if (!faulty)
        GTEST_SKIP() << whyNot;
    for (const char* name : {"partway", "atstart", "denied"}) {
        const Text folder = at(fs::path("faulty") / name);
        try {
            list(folder + u"\\*.*");
            ADD_FAILURE() << name << ": listed to the end";
        } catch (const PlatformError& error) {
            EXPECT_TRUE(names(error, folder)) << name;
        }
    }
}

TEST_F(ContractTest, ALinkWhereAFolderIsExpectedIsAnErrorAndLeadsNowhere) {
    writeFile(temp / "outside" / "f.txt", "x");
    makeReadOnly(temp / "outside" / "f.txt");
    fs::create_directories(temp / "inside" / "sub");
    std::string whyNot;
    if (!makeFolderLink(temp / "outside", temp / "inside" / "link", whyNot))
        GTEST_SKIP() << whyNot;
    const Text link = at(fs::path("inside") / "link");
    try {
        list(link + u"\\*.*");
        ADD_FAILURE() << "listed through the link";
    } catch (const PlatformError& error) {
        EXPECT_TRUE(names(error, link));
    }
    EXPECT_THROW(platform->readAttributes(link + u"\\f.txt"), PlatformError);
    EXPECT_THROW(platform->setAttributes(link + u"\\f.txt", kArchive), PlatformError);

    // A folder that its parent listed, replaced by a link before the walk enters it.
    FindData data;
    const Listing parent{*platform, platform->openListing(at("inside") + u"\\*.*", data)};
    while (Text(data.cFileName.data()) != u"sub")
        ASSERT_TRUE(platform->advanceListing(parent.handle, data));
    fs::remove(temp / "inside" / "sub");
    fs::rename(temp / "inside" / "link", temp / "inside" / "sub");
    EXPECT_THROW(list(at("inside") + u"\\sub\\*.*"), PlatformError);
    EXPECT_TRUE(isReadOnly(temp / "outside" / "f.txt"));
}

} // namespace
} // namespace pellatrix::testing
