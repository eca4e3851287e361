// Our copy and walk on a LinuxPlatform with a quiet user interface.
#include "our_code.h"

#include "platform/linux/linux_platform.h"
#include "platform/linux/ui/quiet_user_interface.h"
#include "walker/lost_read_only_dir.h"

namespace pellatrix::bench {
namespace {

linuxos::LinuxPlatform makePlatform() {
    // C: is not used: every path goes through Z:, which is the root of the Linux tree.
    return linuxos::LinuxPlatform(linuxos::DriveMapping("/nonexistent-pellatrix-c"),
                                  std::make_unique<linuxos::QuietUserInterface>(Reply::Yes));
}

} // namespace

bool copyWithOurCode(const std::string& sourceFolder, const std::string& destinationFolder) {
    linuxos::LinuxPlatform platform = makePlatform();
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
    linuxos::LinuxPlatform platform = makePlatform();
    LostReadOnlyDir walker(platform);
    walker.Change(platform.drives().windowsPathOf(folder));
}

} // namespace pellatrix::bench
