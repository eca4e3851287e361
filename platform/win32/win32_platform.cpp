// The Win32 platform operations.
#include "win32_platform.h"

#include "shell_copy.h"
#include "wide_text.h"
#include "win32_error.h"

#include <utility>

namespace pellatrix::win32 {

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {}

Win32Platform::~Win32Platform() = default;

int Win32Platform::messageBox(const Text& text, const Text& title, int style) {
    // Unowned, so that the dialog has its own taskbar button; brought to the front because
    // the program has no visible window of its own to give it the focus.
    const int reply = MessageBoxW(nullptr, toWide(text).c_str(), toWide(title).c_str(),
                                  static_cast<UINT>(style) | MB_SETFOREGROUND);
    if (reply == 0)
        throwLastError("show the message", text);
    return reply;
}

Text Win32Platform::currentDirectory() {
    std::wstring buffer;
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    // The directory may change between the two calls; ask again until it fits.
    while (needed > buffer.size()) {
        buffer.assign(needed, L'\0');
        needed = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (needed == 0)
            throwLastError("read the current directory", u"");
        if (needed < buffer.size()) {
            buffer.resize(needed);
            return fromWide(buffer);
        }
    }
    throwLastError("read the current directory", u"");
}

Text Win32Platform::executableFolder() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            throwLastError("find the program's own file", u"");
        // A full buffer means the name was cut short (ERROR_INSUFFICIENT_BUFFER).
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
    const std::size_t separator = buffer.find_last_of(L"\\/");
    return fromWide(separator == std::wstring::npos ? buffer : buffer.substr(0, separator));
}

WindowHandle Win32Platform::ownerWindow() {
    if (!form_)
        form_ = std::make_unique<HiddenForm>(instance_);
    return reinterpret_cast<WindowHandle>(form_->handle());
}

int Win32Platform::shellFileOperation(FileOpStruct& op) {
    return runShellFileOperation(op, held_);
}

ListingHandle Win32Platform::openListing(const Text& pattern, FindData& data) {
    lastRead_ = {};
    return held_.openListing(pattern, data);
}

bool Win32Platform::advanceListing(ListingHandle listing, FindData& data) {
    lastRead_ = {};
    return held_.advanceListing(listing, data);
}

void Win32Platform::closeListing(ListingHandle listing) {
    lastRead_ = {};
    held_.closeListing(listing);
}

std::uint32_t Win32Platform::readAttributes(const Text& path) {
    // The walk reads a file's attributes just before it changes them: the handle is kept for
    // that change, which then reaches the very object that was read and checked.
    lastRead_ = {};
    FileHandle entry;
    bool writable = true;
    try {
        entry = held_.openEntry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                "read the attributes of");
    } catch (const PlatformError& error) {
        if (error.code() != win32ErrorCode(ERROR_ACCESS_DENIED))
            throw;
        entry = held_.openEntry(path, FILE_READ_ATTRIBUTES, "read the attributes of");
        writable = false;
    }
    const std::uint32_t attributes = attributesOf(entry.get(), path);
    if (writable)
        lastRead_ = {path, std::move(entry)};
    return attributes;
}

void Win32Platform::setAttributes(const Text& path, std::uint32_t attributes) {
    LastRead read = std::exchange(lastRead_, {});
    const FileHandle entry =
        read.handle && read.path == path
            ? std::move(read.handle)
            : held_.openEntry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              "set the attributes of");
    setAttributesOf(entry.get(), attributes, path);
}

void Win32Platform::processMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The program ends by itself once the job is done; a quit request changes nothing.
        if (message.message == WM_QUIT)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32Platform::endProgram() {
    if (form_)
        form_->destroy();
}

} // namespace pellatrix::win32
