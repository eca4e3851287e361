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

namespace {

// The attributes a listing shows for `path` (a plain name lists that one entry); false when
// nothing stands there.
bool listedAttributes(PlatformServices& platform, const Text& path, std::uint32_t& attributes) {
    FindData entry;
    const ListingHandle listing = platform.openListing(path, entry);
    if (listing == kInvalidListing)
        return false;
    platform.closeListing(listing);
    attributes = entry.dwFileAttributes;
    return true;
}

bool isFolder(PlatformServices& platform, const Text& path) {
    std::uint32_t attributes = 0;
    return listedAttributes(platform, path, attributes) && (attributes & FileAttribute::Directory);
}

} // namespace

void refuseRedirectedDestination(PlatformServices& platform) {
    for (const char16_t* folder : Mdl2::kGuardedFolders) {
        std::uint32_t attributes = 0;
        if (!listedAttributes(platform, folder, attributes))
            continue; // missing: the copy makes it
        if (attributes & FileAttribute::ReparsePoint)
            throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), "copy into",
                                folder);
    }
}

void Form1::Form_Load() {
    LostReadOnlyDir walker(platform_);
    const Text source = sourcePatternFor(platform_.currentDirectory());
    const Text destination = Mdl2::kDestinationFolder;
    log([&] {
        return u"Start: copy " + options_.log->quoted(source) + u" into " +
               options_.log->quoted(destination);
    });

    const int reply =
        options_.ask ? platform_.messageBox(Mdl2::kQuestion, Mdl2::kTitle, Mdl2::kQuestionStyle)
                     : Reply::Yes;
    if (reply == Reply::Yes) {
        const WindowHandle owner = options_.ownedCopy ? platform_.ownerWindow() : 0;
        refuseRedirectedDestination(platform_);
        // Without its Model folder the medium cannot be installed: the shell copy still runs
        // and says so in its own way, but the status must not depend on what it returns.
        const Text model = source.substr(0, source.rfind(u'\\'));
        const bool modelThere = isFolder(platform_, model);
        if (!modelThere)
            log([&] { return u"No folder " + options_.log->quoted(model) + u": nothing to copy"; });
        const FileOperationResult copy = RunFileOperation(
            platform_, owner, source, destination, Mdl2::kModeCopy, options_.extraShellFlags);
        walker.Change(destination);
        if (options_.showMessages)
            platform_.messageBox(Mdl2::kClosingMessage, Mdl2::kTitle, Mdl2::kClosingStyle);
        exitStatus_ = copy.failed() || !modelThere ? Mdl2::kExitCopyFailed : Mdl2::kExitCopied;
    } else {
        log([] { return Text(u"The answer was No: nothing copied"); });
        exitStatus_ = Mdl2::kExitDeclined;
    }
    platform_.endProgram();
}

} // namespace pellatrix
