// Linux platform services: the person through the user interface that the factory picked,
// the copy through the copy engine, the drives' roots and the process's own folders. Listings
// and attributes are in linux_listings.cpp.
#include "linux_platform.h"

#include "platform/linux/copy/copy_engine.h"
#include "platform/linux/sys/posix_error.h"

#include <climits>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellatrix::linuxos {
namespace {

// The first name of a shell name list ("name\0\0").
Text firstName(const Text& list) {
    return list.substr(0, list.find(u'\0'));
}

// Linux names are compared exactly.
bool sameNativeName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

} // namespace

LinuxPlatform::LinuxPlatform(DriveMapping drives, std::unique_ptr<UserInterface> ui)
    : drives_(std::move(drives)), ui_(std::move(ui)), held_(sameNativeName) {}

LinuxPlatform::~LinuxPlatform() = default;

int LinuxPlatform::messageBox(const Text& text, const Text& title, int style) {
    raiseFailedSync();
    return ui_->messageBox(text, title, style);
}

Text LinuxPlatform::currentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            throwErrno(errno, "read the current directory", u".");
        buffer.resize(buffer.size() * 2);
    }
    return drives_.windowsPathOf(buffer.data());
}

Text LinuxPlatform::executableFolder() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throwErrno(errno, "find the folder of the program", u"/proc/self/exe");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            path.erase(path.rfind('/') == 0 ? 1 : path.rfind('/'));
            return drives_.windowsPathOf(path);
        }
        buffer.resize(buffer.size() * 2);
    }
}

WindowHandle LinuxPlatform::ownerWindow() {
    // The user interface owns the copy's windows; its address identifies it.
    return reinterpret_cast<WindowHandle>(ui_.get());
}

int LinuxPlatform::shellFileOperation(FileOpStruct& op) {
    raiseFailedSync();
    op.fAnyOperationsAborted = false;
    const Text from = firstName(op.pFrom);
    const Text to = firstName(op.pTo);
    const auto slash = from.find_last_of(u'\\');
    if ((op.wFunc != ShellOperation::Copy && op.wFunc != ShellOperation::Move) || to.empty() ||
        slash == Text::npos)
        return kShellBadRequest;
    CopyRequest request;
    request.sourceDisplay = from.substr(0, slash + 1);
    request.pattern = from.substr(slash + 1);
    request.destinationDisplay = to.ends_with(u'\\') ? to : to + u'\\';
    request.move = op.wFunc == ShellOperation::Move;
    const auto observer = ui_->beginCopy();
    // Both folders are reached from their drive's root, which is held for the run: nothing
    // on the way is resolved anew while the copy runs.
    DriveMapping::PathOnDrive source, destination;
    for (const auto& [path, located] : {std::pair{&request.sourceDisplay, &source},
                                        std::pair{&request.destinationDisplay, &destination}}) {
        if (!drives_.locate(*path, *located)) {
            observer->copyFailed(*path, std::error_code(errno, std::generic_category()));
            observer->finished({});
            return kShellCopyFailed;
        }
    }
    const auto rootOfDrive = [this](char16_t drive) -> DriveRoot {
        return [this, drive](bool makeIfMissing) { return root(drive, makeIfMissing); };
    };
    request.sourceRoot = rootOfDrive(source.drive);
    request.sourceFolder = source.relative;
    request.destinationRoot = rootOfDrive(destination.drive);
    request.destinationFolder = destination.relative;
    const CopyOutcome outcome = copyMatchingEntries(request, *observer);
    op.fAnyOperationsAborted = outcome.cancelled;
    return outcome.succeeded() ? 0 : kShellCopyFailed;
}

int LinuxPlatform::root(char16_t drive, bool makeIfMissing) {
    UniqueFd& held = roots_[drive == u'C' ? 0 : 1];
    if (!held)
        held = drives_.openRoot(drive, makeIfMissing);
    return held ? held.get() : -1;
}

EntryRunHelper* LinuxPlatform::helper() {
    if (!helperTried_) {
        helperTried_ = true;
        try {
            if (std::thread::hardware_concurrency() > 1)
                helper_ = std::make_unique<EntryRunHelper>();
        } catch (const std::system_error&) {
            // no thread to spare: each listing reads its entries alone
        }
    }
    return helper_.get();
}

void LinuxPlatform::processMessages() {
    ui_->processMessages();
}

void LinuxPlatform::endProgram() {
    raiseFailedSync();
    ui_->close();
}

} // namespace pellatrix::linuxos
