// What every platform implementation promises, checked on real folders: attributes, listings,
// the shell copy and the program's own folders. The same suite runs on Linux and, cross-built,
// under Wine. The faults of disks and other programs are staged where a test can stage them:
// a listing that fails and a link put in a folder's place on Linux (linux_platform_test.cpp),
// an entry replaced after its listing under Wine (win32_platform_test.cpp).
#include "contract_fixture.h"

#include <map>

namespace pellatrix::testing {
namespace {

namespace fs = std::filesystem;
using ContractTest = PlatformTest;

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
}

TEST_F(ContractTest, MissingPathsRaiseErrorsThatNameThePath) {
    EXPECT_EQ(raised([&] { platform->readAttributes(at("missing.txt")); }).path(),
              at("missing.txt"));
    EXPECT_EQ(raised([&] { platform->setAttributes(at("missing.txt"), 0); }).path(),
              at("missing.txt"));
}

TEST_F(ContractTest, ListingGivesDotsFirstThenEveryEntryOnceThatMatchesThePattern) {
    const Text files[] = {u"a.txt",      u"B.TXT",    u"noextension", u".profile",
                          u"データ.bin", u"Ελληνικά", u"emoji 😀.txt", u"with space"};
    std::map<Text, std::uint32_t> expected = {{u"sub", kDir}};
    for (const Text& name : files) {
        writeFile(temp / "dir" / fs::path(name), "x");
        expected[name] = kArchive;
        EXPECT_EQ(platform->readAttributes(at("dir") + u"\\" + name) & kContractBits, kArchive);
    }
    fs::create_directory(temp / "dir" / "sub");
    const auto entries = list(at("dir") + u"\\*.*");
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], std::make_pair(Text(u"."), kDir));
    EXPECT_EQ(entries[1], std::make_pair(Text(u".."), kDir));
    const std::map<Text, std::uint32_t> rest(entries.begin() + 2, entries.end());
    EXPECT_EQ(rest.size(), entries.size() - 2) << "no entry twice";
    EXPECT_EQ(rest, expected);
    EXPECT_EQ(names(at("dir") + u"\\*.TxT"), (std::set<Text>{u"a.txt", u"B.TXT", u"emoji 😀.txt"}))
        << "patterns ignore case";
    EXPECT_EQ(names(at("dir") + u"\\データ.bin"), std::set<Text>{u"データ.bin"})
        << "a plain name lists that one entry";
    EXPECT_TRUE(list(at("nowhere") + u"\\*.*").empty());
    EXPECT_TRUE(list(at("dir") + u"\\a.txt\\*.*").empty()) << "inside a file: nothing to list";
    EXPECT_TRUE(list(at("dir") + u"\\*.none").empty());
}

TEST_F(ContractTest, TheCurrentDirectoryAndTheProgramsFolder) {
    EXPECT_EQ(platform->currentDirectory(), platformPathOf(fs::current_path()));
    const Text folder = platform->executableFolder();
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_EQ(platform->readAttributes(folder) & kDir, kDir);
}

// ---- Odd names: a rule that every platform shares ----

// A trailing dot or space belongs to the name: "x." and "x" are two entries, each listed, read
// and changed as itself, and the folder "dir." is listed as itself.
TEST_F(ContractTest, NamesEndingInADotOrASpaceAreTheirOwn) {
    fs::create_directories(temp / "odd");
    for (const char* name : {"x.", "x", "y "})
        std::ofstream(exactly(temp / "odd" / name)) << name;
    fs::create_directory(exactly(temp / "odd" / "dir."));
    std::ofstream(exactly(temp / "odd" / "dir." / "in.txt")) << "in";
    makeReadOnly(exactly(temp / "odd" / "x."));
    makeReadOnly(exactly(temp / "odd" / "y "));

    EXPECT_EQ(names(at("odd") + u"\\*.*"),
              (std::set<Text>{u".", u"..", u"x.", u"x", u"y ", u"dir."}));
    EXPECT_EQ(list(at("odd") + u"\\dir.\\*.*").size(), 3u) << "dir. and not dir";
    const Text folder = at("odd") + u"\\";
    EXPECT_EQ(platform->readAttributes(folder + u"x.") & kContractBits, kArchive | kRO);
    EXPECT_EQ(platform->readAttributes(folder + u"x") & kContractBits, kArchive);
    platform->setAttributes(folder + u"x.", kArchive);
    platform->setAttributes(folder + u"y ", kArchive);
    EXPECT_FALSE(isReadOnly(exactly(temp / "odd" / "x.")));
    EXPECT_FALSE(isReadOnly(exactly(temp / "odd" / "y ")));
    std::error_code ignored; // beyond TempFolder's reach on Windows
    for (const char* name : {"x.", "y ", "dir./in.txt", "dir."}) {
        fs::permissions(exactly(temp / "odd" / name), fs::perms::owner_write, fs::perm_options::add,
                        ignored);
        fs::remove(exactly(temp / "odd" / name), ignored);
    }
}

TEST_F(ContractTest, CopyReplacesFilesEvenReadOnlyOnesMergesFoldersAndKeepsModesAndTimes) {
    writeFile(temp / "Model" / "a.txt", "new");
    writeFile(temp / "Model" / "ro.txt", "read only");
    writeFile(temp / "Model" / "sub" / "deep" / "b.txt", "new b");
    const auto old = fs::last_write_time(temp / "Model" / "a.txt") - std::chrono::hours(48);
    fs::last_write_time(temp / "Model" / "a.txt", old);
    makeReadOnly(temp / "Model" / "ro.txt");
    platform->setAttributes(at("Model/sub/deep/b.txt"), kArchive | kHidden);
    writeFile(temp / "dest" / "a.txt", "old");
    makeReadOnly(temp / "dest" / "a.txt");
    writeFile(temp / "dest" / "sub" / "kept.txt", "kept");

    EXPECT_EQ(shellCopy(*platform, temp / "Model", temp / "dest"), 0);
    EXPECT_EQ(readFile(temp / "dest" / "a.txt"), "new");
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "deep" / "b.txt"), "new b");
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "kept.txt"), "kept");
    EXPECT_TRUE(isReadOnly(temp / "dest" / "ro.txt")) << "read-only arrives read-only";
    EXPECT_EQ(attributes("dest/sub/deep/b.txt"), kArchive | kHidden);
    const auto copiedTime = fs::last_write_time(temp / "dest" / "a.txt");
    EXPECT_LT(std::chrono::abs(copiedTime - old), std::chrono::seconds(2));
}

// A Model folder that is missing makes none either: the programs' tests show it ("no Model, the
// copy cancelled").
TEST_F(ContractTest, CopyOfASingleFileMakesTheFolderAndNothingToCopyMakesNone) {
    writeFile(temp / "Model" / "only.dat", "one");
    EXPECT_EQ(shellCopy(*platform, temp / "Model", temp / "out" / "Model"), 0);
    EXPECT_EQ(readFile(temp / "out" / "Model" / "only.dat"), "one");
    fs::create_directory(temp / "Empty");
    EXPECT_EQ(shellCopy(*platform, temp / "Empty", temp / "from-empty"), 0);
    EXPECT_FALSE(fs::exists(temp / "from-empty"));
}

} // namespace
} // namespace pellatrix::testing
