// The Linux copy engine on real folders: what it guarantees when things go wrong.
#include "platform/linux/copy_engine.h"
#include "platform/linux/file_attributes.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <thread>

namespace pellatrix::linux {
namespace {

namespace fs = std::filesystem;
using pellatrix::testing::readFile;
using pellatrix::testing::TempFolder;
using pellatrix::testing::writeFile;

// Scripted answers, and a cancel after a number of progress calls.
class ScriptedObserver : public CopyObserver {
  public:
    std::vector<ErrorDecision> decisions; // one per failure; Skip when they run out
    std::vector<Text> failedPaths;
    int cancelAfterProgressCalls = -1;
    int progressCalls = 0;
    bool finishedCalled = false;

    void progress(const CopyProgress&) override { ++progressCalls; }
    bool cancelRequested() override {
        return cancelAfterProgressCalls >= 0 && progressCalls > cancelAfterProgressCalls;
    }
    ErrorDecision copyFailed(const Text& path, const std::error_code&) override {
        failedPaths.push_back(path);
        if (decisions.empty())
            return ErrorDecision::Skip;
        const ErrorDecision d = decisions.front();
        decisions.erase(decisions.begin());
        return d;
    }
    void finished(const CopyProgress&) override { finishedCalled = true; }
};

class CopyEngineTest : public ::testing::Test {
  protected:
    TempFolder temp;
    ScriptedObserver observer;

    CopyOutcome copy(bool move = false) {
        CopyRequest request;
        request.sourceFolder = (temp / "Model").string();
        request.pattern = u"*.*";
        request.destinationFolder = (temp / "dest").string();
        request.sourceDisplay = u"Z:\\Model\\";
        request.move = move;
        const CopyOutcome outcome = copyMatchingEntries(request, observer);
        EXPECT_TRUE(observer.finishedCalled);
        return outcome;
    }
    std::vector<std::string> temporariesIn(const fs::path& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().filename().string().starts_with(kTemporaryPrefix))
                found.push_back(entry.path().string());
        return found;
    }
};

TEST_F(CopyEngineTest, CancelHalfWayThroughALargeFileKeepsTheOldFileAndLeavesNoTemporary) {
    writeFile(temp / "Model" / "big.bin", std::string(40 << 20, 'n'));
    writeFile(temp / "dest" / "big.bin", "old content");
    observer.cancelAfterProgressCalls = 2; // inside the 8 MiB chunks of big.bin
    const CopyOutcome outcome = copy();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(readFile(temp / "dest" / "big.bin"), "old content");
    EXPECT_TRUE(temporariesIn(temp / "dest").empty());
    EXPECT_TRUE(observer.failedPaths.empty()) << "a cancel asks nothing";
}

TEST_F(CopyEngineTest, AWriteFailureHalfWayKeepsTheOldFileAndRetrySkipAndCancelWork) {
    // A file-size limit makes the write fail half way, as a full disk does.
    writeFile(temp / "Model" / "a-small.txt", "small");
    writeFile(temp / "Model" / "big.bin", std::string(3 << 20, 'n'));
    writeFile(temp / "dest" / "big.bin", "old content");
    rlimit previous;
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &limited);
    observer.decisions = {ErrorDecision::Retry, ErrorDecision::Skip};
    const CopyOutcome outcome = copy();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(outcome.failures, 1u);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(observer.failedPaths, (std::vector<Text>{u"Z:\\Model\\big.bin", u"Z:\\Model\\big.bin"}))
        << "asked again after Retry";
    EXPECT_EQ(readFile(temp / "dest" / "big.bin"), "old content");
    EXPECT_EQ(readFile(temp / "dest" / "a-small.txt"), "small");
    EXPECT_TRUE(temporariesIn(temp / "dest").empty());
}

TEST_F(CopyEngineTest, TemporariesOfAKilledRunAreRemovedByTheNextRun) {
    writeFile(temp / "Model" / "sub" / "f", "f");
    writeFile(temp / "dest" / (std::string(kTemporaryPrefix) + "123-1"), "half");
    writeFile(temp / "dest" / "sub" / (std::string(kTemporaryPrefix) + "123-2"), "half");
    EXPECT_TRUE(copy().succeeded());
    EXPECT_TRUE(temporariesIn(temp / "dest").empty());
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "f"), "f");
}

TEST_F(CopyEngineTest, MoveRemovesTheSourceOnceCopied) {
    writeFile(temp / "Model" / "sub" / "f", "f");
    writeFile(temp / "Model" / "g", "g");
    EXPECT_TRUE(copy(/*move=*/true).succeeded());
    EXPECT_EQ(readFile(temp / "dest" / "sub" / "f"), "f");
    EXPECT_TRUE(fs::is_empty(temp / "Model"));
}

TEST(FileAttributesTest, ReadOnlyClearingRespectsWhoMayReadAndLinksAreReparsePoints) {
    TempFolder temp;
    writeFile(temp / "private", "x");
    writeFile(temp / "shared", "x");
    fs::permissions(temp / "private", fs::perms::owner_read);
    fs::permissions(temp / "shared", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const mode_t oldMask = umask(022);
    setAttributesOf((temp / "private").string(), 0, u"private");
    setAttributesOf((temp / "shared").string(), 0, u"shared");
    umask(oldMask);
    EXPECT_EQ(fs::status(temp / "private").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(temp / "shared").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read)
        << "group and others get no write bit that the umask forbids";

    fs::create_symlink(temp / "shared", temp / "file-link");
    fs::create_directory_symlink(temp.path(), temp / "dir-link");
    std::uint32_t attributes = 0;
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "file-link").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::ReparsePoint);
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "dir-link").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::ReparsePoint | FileAttribute::Directory);
    EXPECT_THROW(setAttributesOf((temp / "file-link").string(), 0, u"file-link"), std::system_error);

    EXPECT_EQ(parseDosAttributes("0x26", 4), FileAttribute::Hidden | FileAttribute::System);
    EXPECT_EQ(parseDosAttributes("garbage", 7), 0u);
}

TEST(FileAttributesTest, AHiddenBitSetBetweenTwoReadsIsSeen) {
    // The second read of a file may reuse the first read's user.DOSATTRIB while the file's
    // change time says nothing changed; a change in between must still show.
    TempFolder temp;
    writeFile(temp / "f", "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // older than the time step
    std::uint32_t attributes = 0;
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "f").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::Archive);
    ASSERT_EQ(setxattr((temp / "f").c_str(), kDosAttributeName, "0x2", 3, 0), 0);
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "f").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::Archive | FileAttribute::Hidden);
    setAttributesOf((temp / "f").string(), FileAttribute::Archive, u"f");
    ASSERT_TRUE(readAttributesAt(AT_FDCWD, (temp / "f").string(), attributes));
    EXPECT_EQ(attributes, FileAttribute::Archive) << "and cleared again";
}

} // namespace
} // namespace pellatrix::linux
