// What the Win32 platform does beyond the shared contract: long paths, the system's error
// texts, the destination that the shell copy gets and holds, entries replaced after they were
// listed, and Form1's hidden window.
#include "contract_fixture.h"
#include "platform/win32/medium_check.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/win32_platform.h"

namespace pellatrix::testing {
namespace {

namespace fs = std::filesystem;
using Win32PlatformTest = PlatformTest;

TEST_F(Win32PlatformTest, LongPathsAreListedReadAndChanged) {
    fs::path folder = temp.path();
    for (char level = 'a'; folder.native().size() < 300; ++level)
        folder /= "folder-" + std::string(40, level);
    writeFile(exactly(folder / "ro.txt"), "x");
    makeReadOnly(exactly(folder / "ro.txt"));
    const Text file = platformPathOf(folder / "ro.txt");
    EXPECT_TRUE(platform->readAttributes(file) & kRO);
    EXPECT_EQ(names(platformPathOf(folder) + u"\\*.*"), (std::set<Text>{u".", u"..", u"ro.txt"}));
    platform->setAttributes(file, kArchive);
    EXPECT_EQ(platform->readAttributes(file), kArchive);
}

// The report that shows the text with the path (describeError) is the same on every platform:
// the start-up test and the programs' own tests show it.
TEST_F(Win32PlatformTest, ErrorsCarryTheSystemsTextWithoutItsLineEnd) {
    const PlatformError error = raised([&] { platform->readAttributes(at("missing.txt")); });
    EXPECT_EQ(error.code().value(), ERROR_FILE_NOT_FOUND);
    const std::string text = error.code().message();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find("error 2"), std::string::npos) << text;
    EXPECT_NE(text.back(), '\n');
}

TEST_F(Win32PlatformTest, ASingleFolderIsCopiedAsAFolderAndTheDestinationHeldUntilThePlatformGoes) {
    writeFile(temp / "Model" / "データ" / "モデル.txt", "deep");
    fs::create_directory(temp / "Tolvex"); // only the last folder is missing
    // As on a CD, the medium's folders show other IDs opened than listed: no reason to refuse.
    win32::reportOtherIdsBelowForTesting(at("Model"));
    const int status = shellCopy(*platform, temp / "Model", temp / "Tolvex" / "Model");
    win32::reportOtherIdsBelowForTesting({});
    ASSERT_EQ(status, 0);
    EXPECT_EQ(readFile(temp / "Tolvex" / "Model" / "データ" / "モデル.txt"), "deep");
    for (const char* folder : {"Tolvex", "Tolvex/Model"}) {
        const std::wstring path = (temp / folder).wstring();
        EXPECT_FALSE(MoveFileExW(path.c_str(), (path + L"-moved").c_str(), 0)) << folder;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << folder;
        EXPECT_FALSE(RemoveDirectoryW(path.c_str())) << folder;
    }
    writeFile(temp / "Tolvex" / "Model" / "b.txt", "what is inside stays free to change");
    EXPECT_EQ(readFile(temp / "Tolvex" / "Model" / "b.txt"), "what is inside stays free to change");
}

// The listing shows each entry's file ID; an entry that is another object when it is reached
// was swapped in meanwhile (Wine opens through links whatever it is asked, so this is what
// catches a link swapped in there).
TEST_F(Win32PlatformTest, AnEntryReplacedAfterItWasListedIsNotTouched) {
    fs::create_directories(temp / "dir" / "sub");
    writeFile(temp / "dir" / "file.txt", "listed");
    makeReadOnly(temp / "dir" / "file.txt");
    for (const Text name : {u"sub", u"file.txt"}) {
        FindData data;
        const Listing listing{*platform, listUntil(at("dir"), name, data)};
        const fs::path replaced = temp / "dir" / fs::path(name);
        fs::rename(replaced, temp / fs::path(u"was-" + name));
        const Text path = at("dir") + u"\\" + name;
        if (name == u"sub") {
            fs::create_directory(replaced);
            EXPECT_THROW(platform->openListing(path + u"\\*.*", data), PlatformError);
        } else {
            writeFile(replaced, "swapped in");
            makeReadOnly(replaced);
            EXPECT_THROW(platform->setAttributes(path, FileAttribute::Archive), PlatformError);
            EXPECT_TRUE(isReadOnly(replaced));
        }
    }
}

TEST_F(Win32PlatformTest, PathsLongerThanAnyWindowsPathAreRefusedNotSkipped) {
    FindData data;
    const Text tooLong = at("") + Text(33000, u'd') + u"\\*.*";
    const PlatformError error = raised([&] { platform->openListing(tooLong, data); });
    EXPECT_EQ(error.code().value(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(error.path(), tooLong);
}

// The medium check holds no stack frame per level: on a thread with a stack of 256 KiB it goes
// through 4,000 levels. The first names are long, so that Wine's own path lookups give up at
// once (past Linux's 4,096 bytes): below that they are slow in deep trees. Wine then cannot
// remove the tree either: the test prefix goes, with it, when the tests start again.
TEST_F(Win32PlatformTest, TheMediumIsCheckedWithoutAFramePerLevel) {
    fs::create_directory(temp / "Model");
    win32::FileHandle level(CreateFileW(exactly(temp / "Model").c_str(), win32::kFolderAccess,
                                        win32::kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    for (int depth = 0; depth < 4017; ++depth) {
        win32::FileHandle made;
        ASSERT_GE(win32::openRelative(
                      level.get(), depth < 17 ? Text(250, u'L') : u"d",
                      {win32::kFolderAccess, win32::kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE},
                      made),
                  0);
        level = std::move(made);
    }
    struct Check {
        Text pattern;
        bool matched = false;
        static DWORD WINAPI run(void* check) {
            auto& self = *static_cast<Check*>(check);
            self.matched = win32::checkMediumNames(self.pattern);
            return 0;
        }
    } check{at("Model") + u"\\*.*"};
    const HANDLE thread = CreateThread(nullptr, 256 << 10, Check::run, &check,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(check.matched);
}

TEST_F(Win32PlatformTest, TheFormIsHiddenOwnsNothingAndGoesAtTheEnd) {
    // Under Wine a window needs an X display: tests/wine/wine_run.sh gives one.
    const HWND form = reinterpret_cast<HWND>(platform->ownerWindow());
    ASSERT_TRUE(IsWindow(form));
    EXPECT_FALSE(IsWindowVisible(form));
    EXPECT_EQ(GetWindow(form, GW_OWNER), nullptr) << "a top-level window";
    EXPECT_EQ(platform->ownerWindow(), reinterpret_cast<WindowHandle>(form)) << "one form";

    PostMessageW(form, WM_NULL, 0, 0);
    platform->processMessages();
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) << "queue left pending";

    platform->endProgram();
    EXPECT_FALSE(IsWindow(form));
}

} // namespace
} // namespace pellatrix::testing
