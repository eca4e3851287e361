// The start-up sequence and the shell copy request on the fake platform.
#include "fake_platform.h"
#include "startup/form1.h"
#include "startup/run_program.h"

#include <gtest/gtest.h>

namespace pellatrix::testing {
namespace {

constexpr std::uint32_t kDir = FileAttribute::Directory;
constexpr char kQuestion[] = "messageBox Tolvex 36 May I copy the Model file?",
               kClosing[] = "messageBox Tolvex 0 Processing end";

// C:\Tolvex\Model in place (E:\Setup\Model is for each test to make), and a copy that brings
// one read-only file.
struct Installing : FakePlatform {
    Installing() {
        add(u"E:\\Setup", kDir);
        add(u"C:\\Tolvex", kDir);
        add(u"C:\\Tolvex\\Model", kDir);
        onShellOperation = [this](FileOpStruct&) {
            add(u"C:\\Tolvex\\Model\\m.dat", FileAttribute::ReadOnly);
        };
    }
    int run(const StartOptions& options = {}) {
        return runProgram(*this, options,
                          [this](const Text& report) { lastResort.push_back(report); });
    }
    std::vector<Text> lastResort;
};

TEST(StartupTest, YesCopiesThenWalksTheDestinationThenSaysProcessingEnd) {
    const std::string copy = "shellFileOperation E:\\Setup\\Model\\*.*",
                      walk = "setAttributes 0 C:\\Tolvex\\Model\\m.dat";
    const std::vector<std::string> asked = {kQuestion, copy, walk, kClosing, "endProgram"},
                                   unattended = {copy, walk, "endProgram"};
    // A copy that failed or was cancelled, or had no Model folder to copy (whatever the shell
    // says of it), is walked all the same, and ends with status 2 (unattended too: the Windows
    // program's "/S, no Model" in the programs' tests).
    // Unattended: no message box, and a shell told to show nothing (FOF_NOCONFIRMATION |
    // FOF_SILENT | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR).
    // The options, the attributes of E:\Setup\Model (0: missing), what the shell returns,
    // whether it says it was cancelled, and the exit status.
    const std::tuple<StartOptions, std::uint32_t, int, bool, int> cases[] = {
        {{}, kDir, 0, false, 0},
        {{}, kDir, 1223, false, 2},
        {{}, kDir, 0, true, 2},
        {{}, 0, 0, false, 2},
        {{}, FileAttribute::Archive, 0, false, 2},
        {kUnattended, kDir, 0, false, 0}};
    for (const auto& [options, model, shellResult, aborts, status] : cases) {
        Installing fake;
        if (model)
            fake.add(u"E:\\Setup\\Model", model);
        fake.shellResult = shellResult;
        fake.shellAborts = aborts;
        EXPECT_EQ(fake.run(options), status);
        EXPECT_EQ(fake.calls, options.ask ? asked : unattended);
        const FileOpStruct& op = fake.shellRequests.at(0);
        // Unattended, no window is asked for: the copy shows none to own.
        EXPECT_EQ(op.hwnd, options.ownedCopy ? 0x1234u : 0u);
        EXPECT_EQ(fake.ownerWindowCalls, options.ownedCopy ? 1 : 0);
        EXPECT_EQ(op.wFunc, ShellOperation::Copy);
        EXPECT_EQ(op.pFrom, Text(u"E:\\Setup\\Model\\*.*\0\0", 20));
        EXPECT_EQ(op.pTo, Text(u"C:\\Tolvex\\Model\\\0\0", 18));
        EXPECT_EQ(op.fFlags, options.ask ? 0x10 : 0x614);
    }
}

// Without a separator at the end (E:\Setup) the table above shows it.
TEST(StartupTest, SourcePatternAtADriveRootHasOneSeparator) {
    EXPECT_EQ(sourcePatternFor(u"D:\\"), u"D:\\Model\\*.*");
}

// Each error ends the program with status 3 and a report that names what failed, shown in a
// message box, or (unattended, or when no box can be shown) given to the last resort. A
// question that cannot be asked is such an error, before anything is copied: the Linux
// program's "no terminal, no display" shows it (tests/e2e/program_test.py).
TEST(StartupTest, AnErrorEndsTheProgramWithAReportNamingWhatFailed) {
    constexpr std::uint32_t kLink = FileAttribute::Directory | FileAttribute::ReparsePoint;
    const std::pair<std::function<void(Installing&)>, std::string> cases[] = {
        {[](Installing& f) { f.currentDirectoryFails = true; }, "current directory"},
        {[](Installing& f) { f.add(u"C:\\Tolvex", kLink); }, "C:\\Tolvex\""},
        {[](Installing& f) { f.add(u"C:\\Tolvex\\Model", kLink); }, "C:\\Tolvex\\Model\""},
        {[](Installing& f) { f.failingSetAttributes.insert(u"C:\\Tolvex\\Model\\m.dat"); },
         "C:\\Tolvex\\Model\\m.dat"},
    };
    for (const auto& [fault, named] : cases) {
        for (const bool unattended : {false, true}) {
            Installing fake;
            fault(fake);
            EXPECT_EQ(fake.run(unattended ? kUnattended : StartOptions{}), 3) << named;
            EXPECT_EQ(fake.calls.back(), "endProgram");
            EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), kClosing), 0) << named;
            // Unattended, or when no box can be shown, the report goes to the last resort.
            EXPECT_EQ(fake.lastResort.size(), unattended ? 1u : 0u) << named;
            const std::string report =
                unattended ? toUtf8(fake.lastResort.at(0)) : fake.calls.at(fake.calls.size() - 2);
            EXPECT_NE(report.find(named), std::string::npos) << report;
            EXPECT_EQ(fake.shellRequests.size(), named.ends_with("m.dat") ? 1u : 0u)
                << named << ": nothing is copied before an error";
        }
    }
}

} // namespace
} // namespace pellatrix::testing
