// What the Linux platform does beyond the shared contract: listings put aside and taken up
// again, attributes read once (on two threads), the faults of a disk and of other programs that
// only a Linux disk can stage (listings that fail, links put in a folder's place), and the copy
// and the walk at the limits of the process (trees deeper than any path the kernel takes in one
// piece, few descriptors, a small stack), where each run ends with the whole job done or with
// an error, never with a crash or a part silently left undone.
#include "contract_fixture.h"
#include "faulty_file_system.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/sys/file_system_sync.h"
#include "platform/linux/sys/unique_fd.h"
#include "platform/text_encoding.h"
#include "walker/lost_read_only_dir.h"

#include <fcntl.h>
#include <map>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>

namespace pellatrix::testing {
namespace {

namespace fs = std::filesystem;
using linuxos::failFileSystemSyncsForTesting;
using linuxos::UniqueFd;

// A chain of `depth` folders named `name` below top, each holding a read-only file "f". Made
// and read through descriptors: the paths are longer than the kernel takes.
void makeChain(const fs::path& top, int depth, const std::string& name) {
    fs::create_directories(top);
    UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < depth; ++level) {
        ASSERT_EQ(mkdirat(folder.get(), name.c_str(), 0755), 0);
        folder = UniqueFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(folder);
        close(openat(folder.get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0444));
    }
}

class LinuxPlatformTest : public PlatformTest {
  protected:
    // The read-only removal walk of folder; false when it ended with an error.
    static bool walk(PlatformServices& platform, const Text& folder) {
        try {
            LostReadOnlyDir(platform).Change(folder);
            return true;
        } catch (const PlatformError& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return false;
        }
    }
};

TEST_F(LinuxPlatformTest, AFolderMovedAwayWhileItsListingWasAsideIsNotWalkedOn) {
    // Listings opened far enough below the second put it aside; it is taken up through ".." of
    // the one below it, which now lies elsewhere: going on there would walk another folder.
    makeChain(temp / "top", 18, "d");
    Text folder = at("top");
    std::vector<ListingHandle> listings;
    FindData data;
    for (int level = 0; level < 18; ++level, folder += u"\\d")
        listings.push_back(listUntil(folder, u"d", data));
    fs::rename(temp / "top" / "d" / "d", temp / "elsewhere");
    for (int level = 17; level > 1; --level)
        platform->closeListing(listings[static_cast<std::size_t>(level)]);
    EXPECT_THROW(while (platform->advanceListing(listings[1], data)){}, PlatformError);
    platform->closeListing(listings[1]);
    platform->closeListing(listings[0]);
}

TEST_F(LinuxPlatformTest, AttributesReadByTheListingAnswerOnlyUntilSomethingChangesThem) {
    // The listing's own read answers readAttributes for the entry it has just given out, and
    // its folder's read answers "." and ".." below it; a set, or a listing opened meanwhile,
    // makes the next read go to the disk.
    writeFile(temp / "hidden" / "f", "x");
    makeReadOnly(temp / "hidden" / "f");
    ASSERT_EQ(setxattr((temp / "hidden").c_str(), linuxos::kDosAttributeName, "0x2", 3, 0), 0);
    FindData data;
    const Listing outer{*platform, listUntil(at(""), u"hidden", data)};
    EXPECT_EQ(data.dwFileAttributes, kDir | kHidden);
    const ListingHandle inner = platform->openListing(at("hidden") + u"\\*.*", data);
    EXPECT_EQ(data.dwFileAttributes, kDir | kHidden) << ". is the folder itself";
    ASSERT_TRUE(platform->advanceListing(inner, data));
    EXPECT_EQ(data.dwFileAttributes, kDir) << ".. is the folder above";
    ASSERT_TRUE(platform->advanceListing(inner, data));
    ASSERT_EQ(Text(data.cFileName.data()), u"f");
    EXPECT_EQ(attributes("hidden/f"), kArchive | kRO);
    platform->setAttributes(at("hidden/f"), kArchive);
    EXPECT_EQ(attributes("hidden/f"), kArchive) << "read again after a set";
    platform->closeListing(inner);
    fs::permissions(temp / "hidden", fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(attributes("hidden"), kDir | kHidden | kRO)
        << "read again once a listing was opened below";
}

TEST_F(LinuxPlatformTest, AFolderReadOnTwoThreadsGivesEachEntryOnceWithItsOwnAttributes) {
    // Runs of entries are read by the listing's thread and a helper at once, a run ending at
    // each folder: every entry must come once, with its own attributes, and be walked.
    std::map<Text, std::uint32_t> expected = {{u".", kDir}, {u"..", kDir}};
    for (int i = 0; i < 300; ++i) {
        const std::string name = (i % 40 == 7 ? "d" : "f") + std::to_string(i);
        const fs::path path = temp / "many" / name;
        std::uint32_t bits = i % 40 == 7 ? kDir : kArchive;
        if (bits == kDir)
            fs::create_directories(path);
        else
            writeFile(path, name);
        if (i % 3 == 0) {
            makeReadOnly(path);
            bits |= kRO;
        }
        if (i % 5 == 0) {
            ASSERT_EQ(setxattr(path.c_str(), linuxos::kDosAttributeName, "0x2", 3, 0), 0);
            bits |= kHidden;
        }
        expected[fromUtf8(name)] = bits;
    }
    const auto listed = list(at("many") + u"\\*.*");
    EXPECT_EQ(listed.size(), expected.size()) << "no entry twice";
    EXPECT_EQ((std::map<Text, std::uint32_t>(listed.begin(), listed.end())), expected);
    EXPECT_TRUE(walk(*platform, at("many")));
    for (const auto& [name, bits] : expected)
        EXPECT_TRUE((bits & kDir) || !isReadOnly(temp / "many" / toUtf8(name))) << toUtf8(name);
}

TEST_F(LinuxPlatformTest, AWalkThatChangedAFileEndsWithItOnDiskOrTheNextOperationFails) {
    // The sync at a walk's end cannot raise in closeListing, which runs as the walk unwinds.
    writeFile(temp / "walked" / "ro.txt", "x");
    makeReadOnly(temp / "walked" / "ro.txt");
    failFileSystemSyncsForTesting(EIO);
    EXPECT_TRUE(walk(*platform, at("walked")));
    failFileSystemSyncsForTesting(0);
    const PlatformError failed = raised([&] { platform->messageBox(u"Processing end", u"", 0); });
    EXPECT_EQ(failed.code().value(), EIO);
    EXPECT_EQ(failed.path(), at("walked"));
    EXPECT_NO_THROW(platform->messageBox(u"the error report", u"", 0)) << "raised once";
    EXPECT_TRUE(walk(*platform, at("walked")));
    EXPECT_NO_THROW(platform->endProgram()) << "nothing changed: nothing to sync";
}

// ---- Faults of the disk and of other programs: each is an error naming the path, never the
// end of a folder, and never a way out of the folder being walked. Under Wine a program can
// stage neither: it cannot mount a file system that fails on demand, and Wine shows a Unix link
// as the folder it points at.

TEST_F(LinuxPlatformTest, AListingThatFailsAtOnceOrPartWayIsAnErrorNamingTheFolder) {
    // "partway" fails with an I/O error after two of its three entries, "atstart" at once;
    // "denied" may not be opened.
    for (const char* name : {"partway/e0", "partway/e1", "partway/e2", "atstart/e0"})
        writeFile(temp / "shown" / name, "");
    fs::create_directories(temp / "shown" / "denied");
    const FaultyFileSystem faulty(
        temp / "shown", temp / "faulty",
        {{"partway", 2}, {"atstart", 0}, {"denied", FaultyFileSystem::kRefusedOpen}});
    if (!faulty.available())
        GTEST_SKIP() << faulty.whyNot();
    for (const char* name : {"partway", "atstart", "denied"}) {
        const Text folder = at(fs::path("faulty") / name);
        EXPECT_TRUE(raised([&] { list(folder + u"\\*.*"); }).path().starts_with(folder)) << name;
    }
}

TEST_F(LinuxPlatformTest, ALinkWhereAFolderIsExpectedIsAnErrorAndLeadsNowhere) {
    writeFile(temp / "outside" / "f.txt", "x");
    makeReadOnly(temp / "outside" / "f.txt");
    fs::create_directories(temp / "inside" / "sub");
    fs::create_directory_symlink(temp / "outside", temp / "inside" / "link");
    const Text link = at(fs::path("inside") / "link");
    EXPECT_TRUE(raised([&] { list(link + u"\\*.*"); }).path().starts_with(link));

    // A folder that its parent listed, replaced by a link before the walk enters it.
    FindData data;
    const Listing parent{*platform, listUntil(at("inside"), u"sub", data)};
    fs::remove(temp / "inside" / "sub");
    fs::rename(temp / "inside" / "link", temp / "inside" / "sub");
    EXPECT_THROW(list(at("inside") + u"\\sub\\*.*"), PlatformError);
    EXPECT_TRUE(isReadOnly(temp / "outside" / "f.txt"));
}

// ---- The limits of the process

// How many files "f" there are along a chain made by makeChain, or only writable ones.
int filesAlong(const fs::path& top, int depth, const std::string& name, bool onlyWritable) {
    int count = 0;
    UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < depth && folder; ++level) {
        folder = UniqueFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (folder && fstatat(folder.get(), "f", &st, 0) == 0)
            count += !onlyWritable || (st.st_mode & S_IWUSR) != 0;
    }
    return count;
}

// A child's exit status for a copy and a walk: the bits of those that failed.
enum { kCopyFailed = 1, kWalkFailed = 2 };

struct ChildOutcome {
    int status; // the exit status; 128 + the signal when killed
    long peakKiB;
};

// Runs body with a platform of its own in a child process that may open `descriptors`
// descriptors beyond standard input, output and error; body's result is the child's exit
// status.
template <typename Body> ChildOutcome inChild(int descriptors, Body body) {
    const pid_t child = fork();
    if (child == 0) {
        close_range(3, ~0U, 0); // this process's: only the allowance is free
        const auto allowed = static_cast<rlim_t>(3 + descriptors);
        const rlimit bound{allowed, allowed};
        setrlimit(RLIMIT_NOFILE, &bound);
        _exit(body(*makePlatformUnderTest()));
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

TEST_F(LinuxPlatformTest, ALinkIntoAMountThatNeverAnswersHoldsUpNeitherTheCopyNorTheWalk) {
    // The lookup of "stuck" never returns: following the link even once would hang for good.
    FaultyFileSystem hung(temp / "Model", temp / "hung", {},
                          {.appendedWhenRead = {}, .stuck = "stuck"});
    if (!hung.available())
        GTEST_SKIP() << hung.whyNot();
    writeFile(temp / "Model" / "file", "x");
    fs::create_symlink(temp / "hung" / "stuck", temp / "Model" / "link");
    const int status =
        inChild(32, [&](PlatformServices& platform) {
            alarm(10); // a lookup through the link ends the child
            return (shellCopy(platform, temp / "Model", temp / "dest") != 0 ? kCopyFailed : 0) |
                   (walk(platform, at("dest")) ? 0 : kWalkFailed);
        }).status;
    EXPECT_EQ(status, 0) << "1: the copy failed, 2: the walk, 142: it hung";
    EXPECT_EQ(fs::read_symlink(temp / "dest" / "link"), temp / "hung" / "stuck");
}

TEST_F(LinuxPlatformTest, AtAnyDepthAndDescriptorLimitTheCopyAndTheWalkEndWholeOrWithAnError) {
    // On tmpfs where there is one: removing 12,000 nested folders from a disk takes long.
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string made = (base / "pellatrix-deep-XXXXXX").string();
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    const fs::path top = made;
    struct Remove { // rm removes any depth; std::filesystem stops at the kernel's path length
        fs::path folder;
        ~Remove() { (void)!std::system(("rm -rf '" + folder.string() + "'").c_str()); }
    } remove{top};
    // 20 levels are deeper than the folders either keeps open, so that both put some aside; 18
    // levels of 250 characters pass the kernel's 4,096 bytes of path; 6,000 levels of one
    // character, its 40 links and any fixed stack of open folders.
    const std::pair<int, std::string> trees[] = {
        {20, "level"}, {18, std::string(250, 'n')}, {6000, "d"}};
    for (const auto& [depth, name] : trees)
        makeChain(top / std::to_string(depth), depth, name);
    // With every descriptor first, here: this also lets the sanitizers make their first checks
    // of each type, which need descriptors that a child at its limit could not open. Errors are
    // among them, and the walk's report of one: a walk of a link where a folder is expected ends
    // with one.
    ASSERT_EQ(shellCopy(*platform, top / "20", top / "unlimited"), 0);
    ASSERT_TRUE(walk(*platform, platformPathOf(top / "unlimited")));
    fs::create_directory_symlink(top / "20", top / "link");
    EXPECT_FALSE(walk(*platform, platformPathOf(top / "link")));
    int failures = 0;
    // The shallow tree at every limit up to 32 descriptors, which are enough for any depth, in
    // bounded memory. Each run is named by its depth and its descriptors.
    for (const auto& [depth, name] : trees)
        for (int descriptors = depth == 20 ? 0 : 32; descriptors <= 32; ++descriptors) {
            const std::string run = std::to_string(depth) + "-" + std::to_string(descriptors);
            const fs::path model = top / std::to_string(depth);
            const fs::path copied = top / ("copied-" + run), walked = top / ("walked-" + run);
            makeChain(walked, depth, name);
            const ChildOutcome outcome = inChild(descriptors, [&](PlatformServices& limited) {
                return (shellCopy(limited, model, copied) != 0 ? kCopyFailed : 0) |
                       (walk(limited, platformPathOf(walked)) ? 0 : kWalkFailed);
            });
            ASSERT_LE(outcome.status, kCopyFailed | kWalkFailed) << run;
            if (!(outcome.status & kCopyFailed)) {
                EXPECT_EQ(filesAlong(copied, depth, name, false), depth) << "copied whole: " << run;
            }
            if (!(outcome.status & kWalkFailed)) {
                EXPECT_EQ(filesAlong(walked, depth, name, true), depth) << "walked whole: " << run;
            }
            EXPECT_TRUE(outcome.status == 0 || descriptors < 32) << "32 are enough: " << run;
            failures |= outcome.status;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
            EXPECT_LT(outcome.peakKiB, 16 * 1024) << run;
#endif
        }
    EXPECT_EQ(failures, kCopyFailed | kWalkFailed) << "both meet the limit";
    // On a thread whose stack is too small for the depth, the walk ends with an error instead
    // of a crash.
    const int status =
        inChild(32, [&](PlatformServices& platform) {
            pthread_attr_t small; // for every thread made from here on
            pthread_attr_init(&small);
            pthread_attr_setstacksize(&small, 512 * 1024);
            pthread_setattr_default_np(&small);
            bool walked = true;
            std::thread([&] { walked = walk(platform, platformPathOf(top / "6000")); }).join();
            return walked ? 0 : 1;
        }).status;
    EXPECT_EQ(status, 1) << "0: walked whole";
}

} // namespace
} // namespace pellatrix::testing
