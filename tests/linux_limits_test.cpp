// The Linux copy and walk at the limits of the process: trees deeper than any path the kernel
// takes in one piece, few descriptors, a small stack. Each run ends with the whole job done or
// with an error that reaches the caller, never with a crash or a part silently left undone.
#include "platform/linux/linux_platform.h"
#include "platform/linux/quiet_user_interface.h"
#include "platform/platform_error.h"
#include "temp_folder.h"
#include "walker/lost_read_only_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace pellatrix::linux {
namespace {

namespace fs = std::filesystem;

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

struct ChainCount {
    int files = 0, readOnly = 0;
};

// The files "f" along a chain made by makeChain, and how many of them are read-only.
ChainCount countChain(const fs::path& top, int depth, const std::string& name) {
    ChainCount count;
    UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < depth && folder; ++level) {
        folder = UniqueFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (folder && fstatat(folder.get(), "f", &st, 0) == 0) {
            ++count.files;
            count.readOnly += (st.st_mode & S_IWUSR) == 0;
        }
    }
    return count;
}

LinuxPlatform makePlatform() {
    return LinuxPlatform(DriveMapping("/nonexistent-pellatrix-c"),
                         std::make_unique<QuietUserInterface>(Reply::Yes));
}

// The shell copy of everything in `from` into `to`, as the program asks for it: 0 when every
// file was copied.
int copyFolder(LinuxPlatform& platform, const fs::path& from, const fs::path& to) {
    FileOpStruct op;
    op.pFrom = platform.drives().windowsPathOf(from.string()) + u"\\*.*" + Text(2, u'\0');
    op.pTo = platform.drives().windowsPathOf(to.string()) + u"\\" + Text(2, u'\0');
    op.fFlags = ShellFlag::NoConfirmation;
    return platform.shellFileOperation(op);
}

// The read-only removal walk of `folder`; false when it ended with an error.
bool walk(LinuxPlatform& platform, const fs::path& folder) {
    try {
        LostReadOnlyDir(platform).Change(platform.drives().windowsPathOf(folder.string()));
        return true;
    } catch (const PlatformError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
}

struct ChildOutcome {
    int status; // the exit status; 128 + the signal when killed
    long peakKiB;
};

// Runs body in a child process that may open `descriptors` descriptors beyond those open now
// and has `stack` bytes of stack; body's result is the child's exit status.
template <typename Body>
ChildOutcome inChild(int descriptors, Body body, rlim_t stack = RLIM_INFINITY) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit stackBound{stack, stack};
        if (stack != RLIM_INFINITY)
            setrlimit(RLIMIT_STACK, &stackBound);
        int highest = 2;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        for (int fd; (fd = dup(0)) >= 0;) // fill the gaps below it: only the allowance is free
            if (fd > highest) {
                close(fd);
                break;
            }
        const auto allowed = static_cast<rlim_t>(highest + 1 + descriptors);
        const rlimit bound{allowed, allowed};
        setrlimit(RLIMIT_NOFILE, &bound);
        _exit(body());
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

TEST(LimitsTest, TreesDeeperThanAnyPathAreCopiedAndWalkedWholeInBoundedMemory) {
    // On tmpfs where there is one: removing 12,000 nested folders from a disk takes long.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string made = (base / "pellatrix-deep-XXXXXX").string();
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    const fs::path top = made;
    struct Remove { // rm removes any depth; std::filesystem stops at the kernel's path length
        fs::path folder;
        ~Remove() { (void)!std::system(("rm -rf '" + folder.string() + "'").c_str()); }
    } remove{top};
    struct Shape {
        int depth;
        std::string name;
    };
    // 18 levels of 250 characters pass the kernel's 4,096 bytes of path; 6,000 levels of one
    // character, its 40 links and any fixed stack of open folders.
    for (const Shape& shape : {Shape{18, std::string(250, 'n')}, Shape{6000, "d"}}) {
        const fs::path model = top / (std::to_string(shape.depth) + "-Model");
        const fs::path dest = top / (std::to_string(shape.depth) + "-dest");
        makeChain(model, shape.depth, shape.name);
        const ChildOutcome outcome = inChild(32, [&] {
            LinuxPlatform platform = makePlatform();
            return copyFolder(platform, model, dest) != 0 ? 1 : !walk(platform, dest) ? 2 : 0;
        });
        EXPECT_EQ(outcome.status, 0) << shape.depth << " levels; 1: the copy failed, 2: the walk";
        const ChainCount copied = countChain(dest, shape.depth, shape.name);
        EXPECT_EQ(copied.files, shape.depth);
        EXPECT_EQ(copied.readOnly, 0) << shape.depth << " levels";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_LT(outcome.peakKiB, 16 * 1024) << shape.depth << " levels";
#endif
    }
    // With a stack too small for the depth, the walk ends with an error instead of a crash.
    const auto walkSource = [&] {
        LinuxPlatform platform = makePlatform();
        return walk(platform, top / "6000-Model") ? 0 : 1;
    };
    EXPECT_EQ(inChild(32, walkSource, 512 * 1024).status, 1);
}

TEST(LimitsTest, AtEveryDescriptorLimitTheCopyAndTheWalkEndWholeOrWithAnError) {
    // Deeper than the folders either keeps open, so that both put some aside.
    testing::TempFolder temp;
    constexpr int kDepth = 20;
    makeChain(temp / "Model", kDepth, "level");
    LinuxPlatform platform = makePlatform();
    // With every descriptor first, here: this also lets the sanitizers make their first checks
    // of each type, which need descriptors that a child at its limit could not open.
    ASSERT_EQ(copyFolder(platform, temp / "Model", temp / "unlimited"), 0);
    ASSERT_TRUE(walk(platform, temp / "unlimited"));
    EXPECT_THROW(platform.readAttributes(platform.drives().windowsPathOf((temp / "none").string())),
                 PlatformError);
    enum { kCopyFailed = 1, kWalkFailed = 2 };
    int failures = 0;
    for (int descriptors = 0; descriptors <= 32; ++descriptors) {
        const fs::path copied = temp / ("copied" + std::to_string(descriptors));
        const fs::path walked = temp / ("walked" + std::to_string(descriptors));
        ASSERT_EQ(copyFolder(platform, temp / "Model", walked), 0);
        const int status =
            inChild(descriptors, [&] {
                LinuxPlatform limited = makePlatform();
                return (copyFolder(limited, temp / "Model", copied) != 0 ? kCopyFailed : 0) |
                       (walk(limited, walked) ? 0 : kWalkFailed);
            }).status;
        ASSERT_LE(status, kCopyFailed | kWalkFailed) << "with " << descriptors << " descriptors";
        if (!(status & kCopyFailed)) {
            EXPECT_EQ(countChain(copied, kDepth, "level").files, kDepth)
                << "copied whole with " << descriptors << " descriptors";
        }
        if (!(status & kWalkFailed)) {
            EXPECT_EQ(countChain(walked, kDepth, "level").readOnly, 0)
                << "walked whole with " << descriptors << " descriptors";
        }
        failures |= status;
        if (descriptors == 32) {
            EXPECT_EQ(status, 0) << "a fixed number of descriptors is enough";
        }
    }
    EXPECT_EQ(failures, kCopyFailed | kWalkFailed) << "both meet the limit";
}

} // namespace
} // namespace pellatrix::linux
