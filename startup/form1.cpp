// The start-up sequence: question, copy, read-only removal walk, closing message.
#include "form1.h"

#include "mdl1.h"
#include "mdl2.h"
#include "platform/platform_error.h"
#include "walker/lost_read_only_dir.h"

namespace pellatrix {

Text sourcePatternFor(const Text& currentDirectory) {
    Text pattern = currentDirectory;
    if (pattern.empty() || pattern.back() != u'\\')
        pattern += u'\\';
    return pattern + Mdl2::kSourceFolder;
}

void refuseRedirectedDestination(PlatformServices& platform) {
    for (const char16_t* folder : Mdl2::kGuardedFolders) {
        FindData entry;
        const ListingHandle listing = platform.openListing(folder, entry);
        if (listing == kInvalidListing)
            continue; // missing: the copy makes it
        platform.closeListing(listing);
        if (entry.dwFileAttributes & FileAttribute::ReparsePoint)
            throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), "copy into",
                                folder);
    }
}

void Form1::Form_Load() {
    LostReadOnlyDir walker(platform_);
    const Text source = sourcePatternFor(platform_.currentDirectory());
    const Text destination = Mdl2::kDestinationFolder;

    const int reply =
        options_.ask ? platform_.messageBox(Mdl2::kQuestion, Mdl2::kTitle, Mdl2::kQuestionStyle)
                     : Reply::Yes;
    if (reply == Reply::Yes) {
        const WindowHandle owner = platform_.ownerWindow();
        refuseRedirectedDestination(platform_);
        const FileOperationResult copy = RunFileOperation(
            platform_, owner, source, destination, Mdl2::kModeCopy, options_.extraShellFlags);
        walker.Change(destination);
        if (options_.showMessages)
            platform_.messageBox(Mdl2::kClosingMessage, Mdl2::kTitle, Mdl2::kClosingStyle);
        exitStatus_ = copy.failed() ? Mdl2::kExitCopyFailed : Mdl2::kExitCopied;
    } else {
        exitStatus_ = Mdl2::kExitDeclined;
    }
    platform_.endProgram();
}

} // namespace pellatrix
