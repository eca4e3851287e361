// The read-only removal walk on the Linux platform: trees deeper than any path the kernel takes
// in one piece, in bounded memory and descriptors, and the stored read-only bit.
#include "platform/linux/file_attributes.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/quiet_user_interface.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"
#include "temp_folder.h"
#include "walker/lost_read_only_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

namespace pellatrix::linux {
namespace {

using testing::TempFolder;

LinuxPlatform makePlatform() {
    return LinuxPlatform(DriveMapping("/nonexistent-pellatrix-c"),
                         std::make_unique<QuietUserInterface>(Reply::Yes));
}

// The highest descriptor this process has open.
int highestOpenDescriptor() {
    int highest = 2;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    return highest;
}

// A chain of `depth` folders named `name` below `top`, each holding a read-only file "f".
// Made and read through descriptors: the paths are longer than the kernel takes.
void makeChain(const std::filesystem::path& top, int depth, const std::string& name) {
    UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY));
    for (int level = 0; level < depth; ++level) {
        ASSERT_EQ(mkdirat(folder.get(), name.c_str(), 0755), 0);
        folder = UniqueFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_TRUE(folder);
        close(openat(folder.get(), "f", O_WRONLY | O_CREAT, 0444));
    }
}

// How many files "f" along the chain are still read-only.
int readOnlyInChain(const std::filesystem::path& top, int depth, const std::string& name) {
    int readOnly = 0;
    UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY));
    for (int level = 0; level < depth && folder; ++level) {
        folder = UniqueFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
        struct stat st;
        if (!folder || fstatat(folder.get(), "f", &st, 0) != 0 || !(st.st_mode & S_IWUSR))
            ++readOnly;
    }
    return readOnly;
}

// Runs the walk over folder in a child process with at most `descriptors` more descriptors
// than it starts with; its exit status (0: the walk ended without error, 2: with the error
// EMFILE) and peak resident memory in KiB. warmUp walks once and raises an error once before
// the descriptors are bounded: the sanitizers' first check of each type needs descriptors.
std::pair<int, long> walkInChild(const std::filesystem::path& folder, int descriptors,
                                 bool warmUp = false, rlim_t stack = RLIM_INFINITY) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit stackBound{stack, stack};
        if (stack != RLIM_INFINITY)
            setrlimit(RLIMIT_STACK, &stackBound);
        LinuxPlatform platform = makePlatform();
        const Text start = platform.drives().windowsPathOf(folder.string());
        if (warmUp) {
            LostReadOnlyDir(platform).Change(start);
            try {
                platform.readAttributes(start + u"\\missing");
            } catch (const PlatformError& error) {
                std::fprintf(stderr, "warmed up: %d %s\n", error.code().value(), error.what());
            }
        }
        const int highest = highestOpenDescriptor();
        for (int fd; (fd = dup(0)) >= 0;) // fill the gaps below it: only the allowance is free
            if (fd > highest) {
                close(fd);
                break;
            }
        const rlimit bound{static_cast<rlim_t>(highest + 1 + descriptors),
                           static_cast<rlim_t>(highest + 1 + descriptors)};
        setrlimit(RLIMIT_NOFILE, &bound);
        try {
            LostReadOnlyDir(platform).Change(start);
        } catch (const PlatformError& error) {
            std::fprintf(stderr, "%s\n", error.what());
            _exit(error.code().value() == EMFILE ? 2 : 1);
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

class DeepWalkTest : public ::testing::Test {
  protected:
    ~DeepWalkTest() override { removeTree(); }
    // rm removes any depth; std::filesystem::remove_all stops at the kernel's path length.
    void removeTree() {
        const std::string command = "rm -rf '" + (temp / "tree").string() + "'";
        if (std::system(command.c_str()) != 0)
            ADD_FAILURE() << "could not remove the tree";
    }
    TempFolder temp;
};

TEST_F(DeepWalkTest, TreesDeeperThanAnyPathAreWalkedWholeInBoundedMemoryAndDescriptors) {
    struct Shape {
        int depth;
        std::string name;
    };
    // 18 levels of 250 characters pass the kernel's 4,096 bytes of path; 6,000 levels of one
    // character, its 40 links and any fixed stack of open folders.
    for (const Shape& shape : {Shape{18, std::string(250, 'n')}, Shape{6000, "d"}}) {
        std::filesystem::create_directories(temp / "tree");
        makeChain(temp / "tree", shape.depth, shape.name);
        const auto [status, peakKiB] = walkInChild(temp / "tree", 24);
        EXPECT_EQ(status, 0) << shape.depth << " levels: the walk ended with an error";
        EXPECT_EQ(readOnlyInChain(temp / "tree", shape.depth, shape.name), 0) << shape.depth;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_LT(peakKiB, 16 * 1024) << shape.depth << " levels";
#endif
        // With a stack too small for the depth, an error instead of a crash.
        if (shape.depth > 1000) {
            EXPECT_EQ(walkInChild(temp / "tree", 24, false, 512 * 1024).first, 1);
        }
        removeTree();
    }
}

TEST_F(DeepWalkTest, RunningOutOfDescriptorsIsAnError) {
    std::filesystem::create_directories(temp / "tree");
    makeChain(temp / "tree", 3, "d");
    EXPECT_EQ(walkInChild(temp / "tree", 0, true).first, 2);
}

TEST(AsideListingTest, AFolderMovedAwayWhileItsListingWasAsideIsNotWalkedOn) {
    // Seventeen listings open below the first put it aside; it is taken up through ".." of the
    // one below it, which now lies elsewhere: going on there would walk another folder.
    TempFolder temp;
    std::filesystem::create_directories(temp / "top");
    makeChain(temp / "top", 18, "d");
    LinuxPlatform platform = makePlatform();
    Text folder = platform.drives().windowsPathOf((temp / "top").string()) + u"\\";
    std::vector<ListingHandle> listings;
    FindData data;
    for (int level = 0; level < 18; ++level, folder += u"d\\") {
        listings.push_back(platform.openListing(folder + u"*.*", data));
        while (Text(data.cFileName.data()) != u"d")
            ASSERT_TRUE(platform.advanceListing(listings.back(), data));
    }
    std::filesystem::rename(temp / "top" / "d", temp / "elsewhere");
    for (int level = 17; level > 0; --level)
        platform.closeListing(listings[static_cast<std::size_t>(level)]);
    EXPECT_THROW(while (platform.advanceListing(listings[0], data)){}, PlatformError);
    platform.closeListing(listings[0]);
}

TEST(ListedAttributesTest, AttributesReadByTheListingAnswerOnlyUntilSomethingChangesThem) {
    // The listing's own read answers readAttributes for the entry it has just given out, and
    // its folder's read answers "." and ".." below it; a set, or a listing opened meanwhile,
    // makes the next read go to the disk.
    TempFolder temp;
    testing::writeFile(temp / "hidden" / "f", "x");
    testing::makeReadOnly(temp / "hidden" / "f");
    ASSERT_EQ(setxattr((temp / "hidden").c_str(), kDosAttributeName, "0x2", 3, 0), 0);
    LinuxPlatform platform = makePlatform();
    const Text top = platform.drives().windowsPathOf(temp.path().string()) + u"\\";
    FindData data;
    const auto listUntil = [&](const Text& folder, const Text& name) {
        const ListingHandle listing = platform.openListing(folder + u"*.*", data);
        while (listing != kInvalidListing && Text(data.cFileName.data()) != name)
            if (!platform.advanceListing(listing, data))
                ADD_FAILURE() << "no " << toUtf8(name);
        return listing;
    };
    constexpr std::uint32_t kHiddenFolder = FileAttribute::Directory | FileAttribute::Hidden;
    const ListingHandle outer = listUntil(top, u"hidden");
    EXPECT_EQ(data.dwFileAttributes, kHiddenFolder);
    const ListingHandle inner = platform.openListing(top + u"hidden\\*.*", data);
    EXPECT_EQ(data.dwFileAttributes, kHiddenFolder) << ". is the folder itself";
    ASSERT_TRUE(platform.advanceListing(inner, data));
    EXPECT_EQ(data.dwFileAttributes, FileAttribute::Directory) << ".. is the folder above";
    ASSERT_TRUE(platform.advanceListing(inner, data));
    ASSERT_EQ(Text(data.cFileName.data()), u"f");
    const Text f = top + u"hidden\\f";
    constexpr std::uint32_t kReadOnlyFile = FileAttribute::Archive | FileAttribute::ReadOnly;
    EXPECT_EQ(platform.readAttributes(f), kReadOnlyFile);
    platform.setAttributes(f, FileAttribute::Archive);
    EXPECT_EQ(platform.readAttributes(f), FileAttribute::Archive) << "read again after a set";
    platform.closeListing(inner);
    std::filesystem::permissions(temp / "hidden", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(platform.readAttributes(top + u"hidden"), kHiddenFolder | FileAttribute::ReadOnly)
        << "read again once a listing was opened below";
    platform.closeListing(outer);
}

TEST(ListedAttributesTest, AFolderReadOnTwoThreadsGivesEachEntryOnceWithItsOwnAttributes) {
    // Runs of entries are read by the listing's thread and a helper at once, a run ending at
    // each folder: every entry must come once, with its own attributes, and be walked.
    TempFolder temp;
    std::map<Text, std::uint32_t> expected = {{u".", FileAttribute::Directory},
                                              {u"..", FileAttribute::Directory}};
    for (int i = 0; i < 300; ++i) {
        const std::string name = (i % 40 == 7 ? "d" : "f") + std::to_string(i);
        std::uint32_t attributes = FileAttribute::Archive;
        if (i % 40 == 7) {
            std::filesystem::create_directory(temp / name);
            attributes = FileAttribute::Directory;
        } else {
            testing::writeFile(temp / name, name);
        }
        if (i % 3 == 0) {
            testing::makeReadOnly(temp / name);
            attributes |= FileAttribute::ReadOnly;
        }
        if (i % 5 == 0) {
            ASSERT_EQ(setxattr((temp / name).c_str(), kDosAttributeName, "0x2", 3, 0), 0);
            attributes |= FileAttribute::Hidden;
        }
        expected[fromUtf8(name)] = attributes;
    }
    LinuxPlatform platform = makePlatform();
    const Text top = platform.drives().windowsPathOf(temp.path().string()) + u"\\";
    std::map<Text, std::uint32_t> listed;
    FindData data;
    const ListingHandle listing = platform.openListing(top + u"*.*", data);
    ASSERT_NE(listing, kInvalidListing);
    do {
        EXPECT_TRUE(listed.emplace(Text(data.cFileName.data()), data.dwFileAttributes).second)
            << toUtf8(data.cFileName.data()) << " twice";
    } while (platform.advanceListing(listing, data));
    platform.closeListing(listing);
    EXPECT_EQ(listed, expected);
    LostReadOnlyDir(platform).Change(top);
    for (const auto& [name, attributes] : expected)
        if (!(attributes & FileAttribute::Directory)) {
            EXPECT_FALSE(testing::isReadOnly(temp / toUtf8(name))) << toUtf8(name);
        }
}

TEST(StoredReadOnlyTest, ClearingReadOnlyClearsTheStoredBitAndKeepsHiddenAndSystem) {
    TempFolder temp;
    testing::writeFile(temp / "f", "x");
    testing::makeReadOnly(temp / "f");
    ASSERT_EQ(setxattr((temp / "f").c_str(), kDosAttributeName, "0x27", 4, 0), 0);
    LinuxPlatform platform = makePlatform();
    const Text path = platform.drives().windowsPathOf((temp / "f").string());
    platform.setAttributes(path, platform.readAttributes(path) & ~FileAttribute::ReadOnly);
    char stored[16] = {};
    ASSERT_GT(getxattr((temp / "f").c_str(), kDosAttributeName, stored, sizeof stored - 1), 0);
    EXPECT_STREQ(stored, "0x26") << "archive, hidden and system stay; read-only goes";
    EXPECT_FALSE(testing::isReadOnly(temp / "f"));
}

} // namespace
} // namespace pellatrix::linux
