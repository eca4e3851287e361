// The start-up sequence and the shell copy request on the fake platform.
#include "fake_platform.h"
#include "startup/form1.h"
#include "startup/mdl1.h"
#include "startup/mdl2.h"
#include "startup/run_program.h"

#include <gtest/gtest.h>

namespace pellatrix::testing {
namespace {

class StartupTest : public ::testing::Test {
  protected:
    FakePlatform fake;
    std::vector<Text> lastResort;

    int run(const StartOptions& options = {}) {
        return runProgram(fake, options, [&](const Text& report) { lastResort.push_back(report); });
    }
};

TEST_F(StartupTest, YesCopiesWalksTheDestinationAndSaysProcessingEnd) {
    const std::vector<std::string> asked = {
        "currentDirectory",
        "messageBox Tolvex 36 May I copy the Model file?",
        "ownerWindow",
        "openListing C:\\Tolvex",
        "openListing C:\\Tolvex\\Model",
        "shellFileOperation E:\\Setup\\Model\\*.*",
        "openListing C:\\Tolvex\\Model\\*.*",
        "setAttributes 0 C:\\Tolvex\\Model\\m.dat",
        "messageBox Tolvex 0 Processing end",
        "endProgram",
    };
    // Unattended: the same calls without a message box, and a shell told to show nothing
    // (FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR).
    std::vector<std::string> unattended = asked;
    std::erase_if(unattended, [](const std::string& c) { return c.starts_with("messageBox"); });
    const struct {
        StartOptions options;
        std::vector<std::string> calls;
        std::uint16_t flags;
    } cases[] = {{{}, asked, 0x10}, {kUnattended, unattended, 0x614}};
    for (const auto& c : cases) {
        FakePlatform local;
        local.replies = {Reply::Yes, Reply::Ok};
        local.addFolder(u"C:\\Tolvex");
        local.addFolder(u"C:\\Tolvex\\Model");
        local.onShellOperation = [&](FileOpStruct&) {
            local.addFile(u"C:\\Tolvex\\Model\\m.dat", FileAttribute::ReadOnly);
        };
        EXPECT_EQ(runProgram(local, c.options, [](const Text&) {}), 0);
        EXPECT_EQ(local.attributesOf(u"C:\\Tolvex\\Model\\m.dat"), 0u);
        EXPECT_EQ(local.calls, c.calls);

        ASSERT_EQ(local.shellRequests.size(), 1u);
        const FileOpStruct& op = local.shellRequests[0];
        EXPECT_EQ(op.hwnd, 0x1234u);
        EXPECT_EQ(op.wFunc, ShellOperation::Copy);
        EXPECT_EQ(op.pFrom, Text(u"E:\\Setup\\Model\\*.*\0\0", 20));
        EXPECT_EQ(op.pTo, Text(u"C:\\Tolvex\\Model\\\0\0", 18));
        EXPECT_EQ(op.fFlags, c.flags);
    }
}

TEST_F(StartupTest, NoEndsAtOnceWithNothingDone) {
    fake.replies = {Reply::No};
    EXPECT_EQ(run(), 1);
    const std::vector<std::string> expected = {
        "currentDirectory", "messageBox Tolvex 36 May I copy the Model file?", "endProgram"};
    EXPECT_EQ(fake.calls, expected);
}

TEST_F(StartupTest, AFailedOrCancelledCopyStillWalksAndEndsWithStatusTwo) {
    for (const bool aborts : {false, true}) {
        FakePlatform local;
        local.replies = {Reply::Yes, Reply::Ok};
        local.shellResult = aborts ? 0 : 1223;
        local.shellAborts = aborts;
        EXPECT_EQ(runProgram(local, {}, [](const Text&) {}), 2);
        EXPECT_EQ(local.calls.at(local.calls.size() - 2), "messageBox Tolvex 0 Processing end");
    }
}

TEST_F(StartupTest, SourcePatternHasExactlyOneSeparator) {
    EXPECT_EQ(sourcePatternFor(u"E:\\Setup"), u"E:\\Setup\\Model\\*.*");
    EXPECT_EQ(sourcePatternFor(u"D:\\"), u"D:\\Model\\*.*");
    EXPECT_EQ(sourcePatternFor(u"\\\\server\\share\\cd"), u"\\\\server\\share\\cd\\Model\\*.*");
}

TEST_F(StartupTest, UnreadableCurrentDirectoryCopiesNothingAndReportsTheError) {
    fake.currentDirectoryFails = true;
    fake.replies = {Reply::Yes, Reply::Ok};
    EXPECT_EQ(run(), 3);
    EXPECT_TRUE(fake.shellRequests.empty());
    ASSERT_EQ(fake.calls.size(), 3u);
    EXPECT_TRUE(fake.calls[1].starts_with("messageBox Tolvex 16 Could not read the current"));
}

TEST_F(StartupTest, ADestinationRedirectedByALinkIsRefused) {
    for (const Text link : {u"C:\\Tolvex", u"C:\\Tolvex\\Model"}) {
        FakePlatform local;
        local.replies = {Reply::Yes, Reply::Ok};
        local.addFolder(u"C:\\Tolvex");
        local.addFolder(u"C:\\Tolvex\\Model");
        local.addFile(link, FileAttribute::Directory | FileAttribute::ReparsePoint);
        EXPECT_EQ(runProgram(local, {}, [](const Text&) {}), 3);
        EXPECT_TRUE(local.shellRequests.empty());
        EXPECT_EQ(local.setAttributeCalls, 0);
        EXPECT_NE(local.calls.at(local.calls.size() - 2).find(narrow(link) + "\""),
                  std::string::npos)
            << "the report names the link";
    }
}

TEST_F(StartupTest, AnErrorInTheWalkSkipsProcessingEndAndNamesTheFile) {
    fake.replies = {Reply::Yes, Reply::Ok};
    fake.addFolder(u"C:\\Tolvex");
    fake.addFolder(u"C:\\Tolvex\\Model");
    fake.addFile(u"C:\\Tolvex\\Model\\locked", FileAttribute::ReadOnly);
    fake.failingSetAttributes.insert(u"C:\\Tolvex\\Model\\locked");
    EXPECT_EQ(run(), 3);
    for (const auto& call : fake.calls)
        EXPECT_EQ(call.find("Processing end"), std::string::npos);
    EXPECT_NE(fake.calls.at(fake.calls.size() - 2).find("C:\\Tolvex\\Model\\locked"),
              std::string::npos);
    EXPECT_TRUE(lastResort.empty());

    // Unattended, the report goes to the last resort (standard error) and no box is shown.
    fake.calls.clear();
    EXPECT_EQ(run(kUnattended), 3);
    for (const auto& call : fake.calls)
        EXPECT_FALSE(call.starts_with("messageBox")) << call;
    ASSERT_EQ(lastResort.size(), 1u);
    EXPECT_NE(narrow(lastResort[0]).find("C:\\Tolvex\\Model\\locked"), std::string::npos);
}

TEST_F(StartupTest, WhenTheErrorCannotBeShownItGoesToTheLastResort) {
    struct NoWayToAsk : FakePlatform {
        int messageBox(const Text&, const Text&, int) override {
            throw std::runtime_error("no terminal");
        }
    } silent;
    EXPECT_EQ(runProgram(silent, {}, [&](const Text& r) { lastResort.push_back(r); }), 3);
    EXPECT_TRUE(silent.shellRequests.empty());
    ASSERT_EQ(lastResort.size(), 1u);
    EXPECT_EQ(lastResort[0], u"no terminal");
}

TEST_F(StartupTest, RunFileOperationIssuesNoRequestForAnEmptySourceOrDestination) {
    EXPECT_FALSE(RunFileOperation(fake, 1, u"", u"C:\\x\\", 2).requested);
    EXPECT_FALSE(RunFileOperation(fake, 1, u"E:\\x\\*.*", u"", 2).requested);
    EXPECT_TRUE(fake.shellRequests.empty());
    EXPECT_TRUE(RunFileOperation(fake, 1, u"E:\\x\\*.*", u"C:\\y\\", 1).requested);
    EXPECT_EQ(fake.shellRequests.at(0).wFunc, ShellOperation::Move);
}

} // namespace
} // namespace pellatrix::testing
