// The Linux copy engine on real folders: what it guarantees when things go wrong.
#include "faulty_file_system.h"
#include "platform/linux/copy/copy_engine.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/sys/file_system_sync.h"
#include "platform/linux/sys/unique_fd.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <optional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>

namespace pellatrix::linuxos {
namespace {

namespace fs = std::filesystem;
using namespace pellatrix::testing; // the temporary folder and the failing file system

// Scripted answers, and a cancel after a number of progress calls.
class ScriptedObserver : public CopyObserver {
  public:
    std::vector<ErrorDecision> decisions; // one per failure; Skip when they run out
    std::vector<Text> failedPaths;
    std::vector<std::error_code> failures;
    int cancelAfterProgressCalls = -1;
    int progressCalls = 0;
    std::function<void(const CopyProgress&)> onProgress;
    // The copying threads never show or ask anything themselves.
    std::thread::id caller = std::this_thread::get_id();
    std::optional<CopyProgress> last; // as finished() gave it; none before

    void progress(const CopyProgress& progress) override {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        ++progressCalls;
        if (onProgress)
            onProgress(progress);
    }
    bool cancelRequested() override {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        return cancelAfterProgressCalls >= 0 && progressCalls > cancelAfterProgressCalls;
    }
    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        failures.push_back(error);
        failedPaths.push_back(path);
        const std::size_t asked = failedPaths.size() - 1; // the questions before this one
        return asked < decisions.size() ? decisions[asked] : ErrorDecision::Skip;
    }
    void finished(const CopyProgress& progress) override {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        last = progress;
    }
    // waitForOtherCopy as the base class has it: the scripted answer, Retry standing for "wait".
};

// Run with one reading thread (a finishing thread puts the copies in place) and with three
// copying threads, whatever the disk under the temporary folder is.
class CopyEngineTest : public ::testing::TestWithParam<unsigned> {
  protected:
    TempFolder temp;
    ScriptedObserver observer;
    UniqueFd root{open(temp.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};

    // Model (or source) below the temporary folder into dest (or destination).
    CopyRequest request(const std::string& source = "Model",
                        const std::string& destination = "dest", bool move = false) {
        const DriveRoot held = [fd = root.get()](bool) { return fd; };
        return {.sourceRoot = held,
                .sourceFolder = source,
                .pattern = u"*.*",
                .destinationRoot = held,
                .destinationFolder = destination,
                .sourceDisplay = u"Z:\\Model\\",
                .destinationDisplay = u"C:\\dest\\",
                .move = move,
                .threads = GetParam()};
    }
    CopyOutcome copy(const CopyRequest& request) {
        const CopyOutcome outcome = copyMatchingEntries(request, observer);
        EXPECT_TRUE(observer.last);
        return outcome;
    }
    CopyOutcome copy(bool move = false) { return copy(request("Model", "dest", move)); }
    // Every file below folder (temporaries too), relative to it, sorted.
    static std::vector<std::string> filesIn(const fs::path& folder) {
        std::vector<std::string> found;
        if (fs::exists(folder))
            for (const auto& entry : fs::recursive_directory_iterator(folder))
                if (!entry.is_directory())
                    found.push_back(fs::relative(entry.path(), folder).string());
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_P(CopyEngineTest, TheTotalsShownCoverEveryFileAndByteOnceTheCopyEnds) {
    // Counted on a thread of its own while the copy runs: small files copied on the copying
    // threads, a large one on the calling thread, in folders left while their files copy.
    std::uint64_t bytes = 0;
    // A folder of 150 files goes to the copying threads in more than one batch.
    for (int folder = 0; folder < 4; ++folder)
        for (int file = 0; file < (folder == 0 ? 150 : 5); ++file) {
            const std::string content(static_cast<std::size_t>(100 * folder + file), 'x');
            writeFile(temp / "Model" / std::to_string(folder) / std::to_string(file), content);
            bytes += content.size();
        }
    writeFile(temp / "Model" / "large", std::string(9 << 20, 'l'));
    bytes += 9 << 20;
    EXPECT_TRUE(copy().succeeded());
    EXPECT_EQ(observer.last->filesDone, 166u);
    EXPECT_EQ(observer.last->filesTotal, 166u);
    EXPECT_EQ(observer.last->bytesDone, bytes);
    EXPECT_EQ(observer.last->bytesTotal, bytes);
    EXPECT_EQ(filesIn(temp / "dest").size(), 166u);
}

TEST_P(CopyEngineTest, AFileLeftHalfWayKeepsTheOldFileAndRetrySkipAndCancelWork) {
    // A file-size limit makes the write fail half way, as a full disk does (with SIGXFSZ
    // ignored, for the rest of this process: the write fails instead of ending it); a cancel
    // comes inside the 8 MiB chunks of a large file.
    writeFile(temp / "Model" / "a-small.txt", "small");
    writeFile(temp / "Model" / "big.bin", std::string(40 << 20, 'n'));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited;
    getrlimit(RLIMIT_FSIZE, &unlimited);
    for (const bool cancel : {false, true}) {
        writeFile(temp / "dest" / "big.bin", "old content");
        observer = ScriptedObserver();
        observer.decisions = {ErrorDecision::Retry, ErrorDecision::Skip};
        observer.cancelAfterProgressCalls = cancel ? 2 : -1;
        const rlimit limited{cancel ? unlimited.rlim_cur : 1 << 20, unlimited.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
        const CopyOutcome outcome = copy();
        setrlimit(RLIMIT_FSIZE, &unlimited);

        EXPECT_EQ(outcome.cancelled, cancel);
        EXPECT_EQ(outcome.failures, cancel ? 0u : 1u);
        EXPECT_EQ(observer.failedPaths,
                  cancel ? std::vector<Text>{} : std::vector<Text>(2, u"Z:\\Model\\big.bin"))
            << "asked again after Retry; a cancel asks nothing";
        EXPECT_EQ(readFile(temp / "dest" / "big.bin"), "old content");
        // The small file copied whole, and no temporary left.
        EXPECT_EQ(filesIn(temp / "dest"), (std::vector<std::string>{"a-small.txt", "big.bin"}));
    }
}

TEST_P(CopyEngineTest, OnlyTheTemporariesOfAProcessThatIsGoneAreRemoved) {
    writeFile(temp / "Model" / "sub" / "f", "f");
    const fs::path sub = temp / "dest" / "sub";
    // Temporaries of this process (running), of a process that has ended, and of nobody.
    const std::string running = temporaryName(999);
    writeFile(sub / running, "half");
    const pid_t gone = fork();
    if (gone == 0) {
        close(open((sub / temporaryName(1)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    writeFile(temp / "dest" / (std::string(kTemporaryPrefix) + "left-by-nobody"), "half");
    EXPECT_TRUE(copy().succeeded());
    EXPECT_EQ(filesIn(temp / "dest"), (std::vector<std::string>{"sub/" + running, "sub/f"}));
}

TEST_P(CopyEngineTest, ACopyThatMustNotRunIsRefusedBeforeAnythingIsCopied) {
    writeFile(temp / "Model" / "sub" / "f", "f");
    writeFile(temp / "outer" / "dest" / "medium" / "Model" / "g", "g");
    fs::create_directories(temp / "outside");
    fs::create_directories(temp / "Tolvex");
    fs::create_directory_symlink(temp / "outside", temp / "Tolvex" / "Model");
    // A second copy into busy/Model, whose parent the first copy holds, that may not wait (one
    // that may, waits: the real program's table shows it).
    fs::create_directories(temp / "busy");
    UniqueFd first(open((temp / "busy").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(flock(first.get(), LOCK_EX), 0);
    const std::tuple<std::string, std::string, PellatrixError> cases[] = {
        {"Model", "Tolvex/Model", PellatrixError::DestinationIsLink},
        {"Model", "Model/sub/copy", PellatrixError::CopyIntoItself},
        {"Model", "Model", PellatrixError::CopyIntoItself},
        {"outer/dest/medium/Model", "outer/dest", PellatrixError::CopyIntoItself},
        {"Model", "busy/Model", PellatrixError::DestinationBusy},
    };
    for (const auto& [source, destination, refusal] : cases) {
        observer.last.reset();
        try {
            copy(request(source, destination));
            ADD_FAILURE() << destination << " was not refused";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.code(), make_error_code(refusal)) << destination;
        }
        EXPECT_TRUE(observer.last);
    }
    EXPECT_EQ(filesIn(temp / "outside"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(temp / "Model" / "sub" / "copy"));
    EXPECT_EQ(filesIn(temp / "outer"), std::vector<std::string>{"dest/medium/Model/g"});
    EXPECT_FALSE(fs::exists(temp / "busy" / "Model"));
}

TEST_P(CopyEngineTest, PipesAreRefusedAtOnceEvenWhenSwappedInAfterTheListing) {
    for (const char* name : {"a.txt", "victim", "z.txt"})
        writeFile(temp / "Model" / name, name);
    ASSERT_EQ(mkfifo((temp / "Model" / "pipe").c_str(), 0644), 0);
    observer.onProgress = [&](const CopyProgress& progress) {
        if (progress.currentFile == u"Z:\\Model\\victim" &&
            fs::is_regular_file(temp / "Model" / "victim")) {
            fs::remove(temp / "Model" / "victim");
            ASSERT_EQ(mkfifo((temp / "Model" / "victim").c_str(), 0644), 0);
        }
    };
    alarm(60); // a copy that blocks on a pipe fails the test instead of hanging it
    const CopyOutcome outcome = copy();
    alarm(0);
    EXPECT_EQ(outcome.failures, 2u);
    std::sort(observer.failedPaths.begin(), observer.failedPaths.end());
    EXPECT_EQ(observer.failedPaths, (std::vector<Text>{u"Z:\\Model\\pipe", u"Z:\\Model\\victim"}));
    EXPECT_EQ(observer.failures, std::vector(2, make_error_code(PellatrixError::NotAFile)));
    EXPECT_EQ(filesIn(temp / "dest"), (std::vector<std::string>{"a.txt", "z.txt"}));
}

TEST_P(CopyEngineTest, HolesStayHoles) {
    constexpr off_t kSize = 64 << 20;
    writeFile(temp / "Model" / "data-at-both-ends", "head");
    fs::resize_file(temp / "Model" / "data-at-both-ends", kSize - 4);
    std::ofstream(temp / "Model" / "data-at-both-ends", std::ios::app) << "tail";
    writeFile(temp / "Model" / "ends-in-a-hole", "head");
    fs::resize_file(temp / "Model" / "ends-in-a-hole", kSize);
    struct stat st;
    ASSERT_EQ(stat((temp / "Model" / "data-at-both-ends").c_str(), &st), 0);
    if (st.st_blocks * 512 >= kSize)
        GTEST_SKIP() << "the temporary folder's file system keeps no holes";
    EXPECT_TRUE(copy().succeeded());
    for (const char* name : {"data-at-both-ends", "ends-in-a-hole"}) {
        const std::string copied = readFile(temp / "dest" / name);
        EXPECT_EQ(copied, readFile(temp / "Model" / name)) << name;
        ASSERT_EQ(stat((temp / "dest" / name).c_str(), &st), 0);
        EXPECT_LT(st.st_blocks * 512, 1 << 20) << name << " was filled in";
    }
}

TEST_P(CopyEngineTest, CopiesTakeTheSourcesPermissionsWithinTheUmask) {
    // Each file's mode, and its copy's under umask 022.
    using P = fs::perms;
    const std::tuple<const char*, P, P> files[] = {
        {"plain", P(0640), P(0640)},
        {"program", P(0755), P(0755)},
        {"everyone-writes", P(0666), P(0644)},
        {"read-only", P(0444), P(0444)},
        {"read-only-hidden", P(0444), P(0444)}, // its attribute stored before its mode is set
        // An ACL (given below) shows its mask in the group bits, 0640 reading as 0660: the copy
        // keeps no ACL, and the umask takes the group's write bit away again.
        {"with-acl", P(0640), P(0640)},
    };
    for (const auto& [name, mode, copied] : files) {
        writeFile(temp / "Model" / name, "x");
        fs::permissions(temp / "Model" / name, mode);
    }
    ASSERT_EQ(
        setxattr((temp / "Model" / "read-only-hidden").c_str(), kDosAttributeName, "0x3", 3, 0), 0);
    // Folders stay open to their owner; the rest within the umask.
    writeFile(temp / "Model" / "cd-folder" / "f", "x");
    fs::permissions(temp / "Model" / "cd-folder", P(0555));
    const std::string setfacl =
        "setfacl -m u:nobody:rw " + (temp / "Model" / "with-acl").string() + " 2>/dev/null";
    if (std::system(setfacl.c_str()) != 0)
        std::cout << "setfacl is missing or refused here: with-acl has no ACL\n";

    const mode_t oldMask = umask(022);
    const CopyOutcome outcome = copy();
    umask(oldMask);
    EXPECT_TRUE(outcome.succeeded());
    for (const auto& [name, mode, copied] : files)
        EXPECT_EQ(fs::status(temp / "dest" / name).permissions(), copied) << name;
    EXPECT_EQ(fs::status(temp / "dest" / "cd-folder").permissions(), P(0755));
    EXPECT_EQ(getxattr((temp / "dest" / "read-only-hidden").c_str(), kDosAttributeName, nullptr, 0),
              3);
}

TEST_P(CopyEngineTest, MoveRemovesTheSourceOnceCopied) {
    writeFile(temp / "Model" / "sub" / "f", "f");
    writeFile(temp / "Model" / "g", "g");
    EXPECT_TRUE(copy(/*move=*/true).succeeded());
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "f"), "f");
    EXPECT_TRUE(fs::is_empty(temp / "Model"));
}

TEST_P(CopyEngineTest, AListingThatFailsIsNeverTakenForTheEndOfTheFolder) {
    for (const char* name : {"a", "b", "c", "d", "e", "sub/x", "sub/y"})
        writeFile(temp / "Model" / name, name);
    // The folder below Model whose listing fails, after how many entries, the path reported
    // and the files copied.
    const std::tuple<std::string, int, Text, std::vector<std::string>> cases[] = {
        {"", 2, u"Z:\\Model", {"a", "b"}},
        {"", 0, u"Z:\\Model", {}},
        {"sub", 1, u"Z:\\Model\\sub", {"a", "b", "c", "d", "e", "sub/x"}},
    };
    int run = 0;
    for (const auto& [folder, entriesBeforeTheFailure, reported, copied] : cases) {
        FaultyFileSystem failing(temp / "Model", temp / "failing",
                                 {{folder, entriesBeforeTheFailure}});
        if (!failing.available())
            GTEST_SKIP() << failing.whyNot();
        observer = ScriptedObserver();
        const std::string destination = "dest" + std::to_string(++run);
        const CopyOutcome outcome = copy(request("failing", destination));
        EXPECT_EQ(outcome.failures, 1u) << folder << " failing after " << entriesBeforeTheFailure;
        EXPECT_EQ(observer.failedPaths, std::vector<Text>{reported});
        EXPECT_EQ(filesIn(temp / destination), copied);
    }
}

TEST_P(CopyEngineTest, ManyLargeFilesInstallWholeWithFewDescriptors) {
    // Large files wait for the walking thread, which shows their progress; sparse ones are
    // large and cheap.
    for (int i = 0; i < 400; ++i) {
        writeFile(temp / "Model" / std::to_string(i), "");
        fs::resize_file(temp / "Model" / std::to_string(i), (8 << 20) + 1);
    }
    const pid_t child = fork();
    if (child == 0) {
        const rlimit few{64, 64};
        setrlimit(RLIMIT_NOFILE, &few);
        _exit(copyMatchingEntries(request(), observer).succeeded() ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(filesIn(temp / "dest").size(), 400u);
}

TEST_P(CopyEngineTest, ASourceChangedWhileCopiedIsCopiedAgainOrReportedNeverMixed) {
    // "twice" changes at its first two reads, "always" at every read: the first is installed
    // as it ends up, with its last time; the second is reported, and the old file stays.
    const std::string content(1 << 20, 'o');
    writeFile(temp / "Model" / "twice", content);
    writeFile(temp / "Model" / "always", content);
    writeFile(temp / "dest" / "always", "old");
    FaultyFileSystem changing(temp / "Model", temp / "changing", {},
                              {.appendedWhenRead = {{"twice", 2}, {"always", 1000}}, .stuck = ""});
    if (!changing.available())
        GTEST_SKIP() << changing.whyNot();
    EXPECT_EQ(copy(request("changing", "dest")).failures, 1u);
    EXPECT_EQ(observer.failures,
              std::vector<std::error_code>{make_error_code(PellatrixError::ChangedWhileCopied)});
    EXPECT_TRUE(readFile(temp / "dest" / "twice") == content + "xx") << "not as it ended up";
    EXPECT_EQ(fs::last_write_time(temp / "dest" / "twice"),
              fs::last_write_time(temp / "Model" / "twice"));
    EXPECT_EQ(readFile(temp / "dest" / "always"), "old");
}

TEST_P(CopyEngineTest, ASyncThatFailsIsAFailureAndNoFileIsReplacedUnsynced) {
    writeFile(temp / "Model" / "new.txt", "new");
    writeFile(temp / "Model" / "old.txt", "medium");
    writeFile(temp / "dest" / "old.txt", "old");
    failFileSystemSyncsForTesting(EIO);
    const CopyOutcome outcome = copy();
    failFileSystemSyncsForTesting(0);
    EXPECT_EQ(outcome.failures, 2u) << "the replacing file and the last sync";
    EXPECT_EQ(observer.failedPaths, (std::vector<Text>{u"Z:\\Model\\old.txt", u"C:\\dest\\"}));
    EXPECT_EQ(readFile(temp / "dest" / "old.txt"), "old");
}

INSTANTIATE_TEST_SUITE_P(ReadersAtOnce, CopyEngineTest, ::testing::Values(1u, 3u));

} // namespace
} // namespace pellatrix::linuxos
