// The operations through which the logic reaches the operating system and its user interface.
//
// Contract shared by every implementation (and the test fake):
// - Text is UTF-16; paths are Windows paths ("C:\Tolvex\Model\") on every platform.
// - A listing behaves as FindFirstFileW/FindNextFileW: the pattern's last component may hold
//   '*' and '?' with the DOS meaning ("*.*" matches dotless names too), "." and ".." come
//   first in every folder but a drive root, and a pattern without wildcards lists that one
//   entry. Opening a listing of something missing returns kInvalidListing, never throws.
// - Attribute values are the Windows bit values on every platform (see FileAttribute).
// - Every other failure raises PlatformError (platform_error.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pellatrix {

using Text = std::u16string;

// Windows attribute bits.
namespace FileAttribute {
inline constexpr std::uint32_t ReadOnly = 1;
inline constexpr std::uint32_t Hidden = 2;
inline constexpr std::uint32_t System = 4;
inline constexpr std::uint32_t VolumeLabel = 8;
inline constexpr std::uint32_t Directory = 16;
inline constexpr std::uint32_t Archive = 32;
inline constexpr std::uint32_t Normal = 128;
inline constexpr std::uint32_t ReparsePoint = 1024;
} // namespace FileAttribute

// Message box styles and reply codes, with the Windows values.
namespace MessageBoxStyle {
inline constexpr int Ok = 0;
inline constexpr int YesNo = 4;
inline constexpr int IconError = 16;
inline constexpr int IconQuestion = 32;
} // namespace MessageBoxStyle

namespace Reply {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace Reply

// Shell operation codes (wFunc) and flags (fFlags), with the Windows values.
namespace ShellOperation {
inline constexpr std::uint32_t Move = 1;
inline constexpr std::uint32_t Copy = 2;
} // namespace ShellOperation

namespace ShellFlag {
inline constexpr std::uint16_t Silent = 0x4;           // no progress window
inline constexpr std::uint16_t NoConfirmation = 0x10;  // "Yes to All" to every question
inline constexpr std::uint16_t NoConfirmMkDir = 0x200; // make folders without asking
inline constexpr std::uint16_t NoErrorUI = 0x400;      // no error dialog: the result tells
} // namespace ShellFlag

// An opaque window handle; 0 means none.
using WindowHandle = std::uintptr_t;

// The shell file operation's record (the fields of SHFILEOPSTRUCT; named apart from
// windows.h, whose macros would otherwise rename it). pFrom and pTo are lists of names,
// each name followed by a NUL and the list by a second NUL.
struct FileOpStruct {
    WindowHandle hwnd = 0;
    std::uint32_t wFunc = ShellOperation::Copy;
    Text pFrom;
    Text pTo;
    std::uint16_t fFlags = 0;
    bool fAnyOperationsAborted = false;
};

// One listed entry (the fields of WIN32_FIND_DATA that the logic reads). cFileName is a
// fixed-length field, NUL-filled after the name.
inline constexpr std::size_t kMaxFileName = 260;
struct FindData {
    std::uint32_t dwFileAttributes = 0;
    std::array<char16_t, kMaxFileName> cFileName{};
};

// An open listing; kInvalidListing when it could not be opened.
using ListingHandle = std::intptr_t;
inline constexpr ListingHandle kInvalidListing = -1;

class PlatformServices {
  public:
    virtual ~PlatformServices() = default;

    // Modal; returns the reply code (Reply::Yes, Reply::No, Reply::Ok).
    virtual int messageBox(const Text& text, const Text& title, int style) = 0;
    // The process's current directory, of any length.
    virtual Text currentDirectory() = 0;
    // The folder that holds the running executable, without a trailing separator.
    virtual Text executableFolder() = 0;
    // The hidden main window, owner of the copy's progress and error windows.
    virtual WindowHandle ownerWindow() = 0;
    // Synchronous. Returns 0 when everything was copied; otherwise a non-zero code. Sets
    // op.fAnyOperationsAborted when the user cancelled.
    virtual int shellFileOperation(FileOpStruct& op) = 0;
    virtual ListingHandle openListing(const Text& pattern, FindData& data) = 0;
    // True with the next entry in data; false when none is left.
    virtual bool advanceListing(ListingHandle listing, FindData& data) = 0;
    virtual void closeListing(ListingHandle listing) = 0;
    virtual std::uint32_t readAttributes(const Text& path) = 0;
    virtual void setAttributes(const Text& path, std::uint32_t attributes) = 0;
    // Handles the window messages already pending, then returns.
    virtual void processMessages() = 0;
    // Destroys every window of the program; nothing of the user interface runs after it.
    virtual void endProgram() = 0;
};

} // namespace pellatrix
