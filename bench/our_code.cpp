// Our copy and walk on a LinuxPlatform with a quiet user interface.
#include "our_code.h"

#include "platform/linux/linux_platform.h"
#include "platform/linux/quiet_user_interface.h"
#include "walker/lost_read_only_dir.h"

#include <fcntl.h>
#include <unistd.h>

namespace pellatrix::bench {
namespace {

linux::LinuxPlatform makePlatform() {
    // C: is not used: every path goes through Z:, which is the root of the Linux tree.
    return linux::LinuxPlatform(linux::DriveMapping("/nonexistent-pellatrix-c"),
                                std::make_unique<linux::QuietUserInterface>(Reply::Yes));
}

} // namespace

bool copyWithOurCode(const std::string& sourceFolder, const std::string& destinationFolder) {
    linux::LinuxPlatform platform = makePlatform();
    const Text source = platform.drives().windowsPathOf(sourceFolder);
    const Text destination = platform.drives().windowsPathOf(destinationFolder);
    FileOpStruct op;
    op.wFunc = ShellOperation::Copy;
    op.pFrom = source + u"\\*.*" + Text(2, u'\0');
    op.pTo = destination + u"\\" + Text(2, u'\0');
    op.fFlags = ShellFlag::NoConfirmation;
    return platform.shellFileOperation(op) == 0 && !op.fAnyOperationsAborted;
}

void walkWithOurCode(const std::string& folder) {
    linux::LinuxPlatform platform = makePlatform();
    LostReadOnlyDir walker(platform);
    walker.Change(platform.drives().windowsPathOf(folder));
}

void syncLikeOurCode(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

} // namespace pellatrix::bench
