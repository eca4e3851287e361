// The module's side of the boundary (desktop_module.h): the C functions over the GTK dialogs.
#include "platform/linux/ui/gtk/desktop_module.h"

#include "platform/linux/ui/gtk/gtk_user_interface.h"
#include "platform/text_encoding.h"

#include <cstdio>
#include <exception>

namespace pellatrix::linuxos::gtk {
namespace {

CopyProgress progressOf(const PellatrixDesktopProgress& progress) {
    return {progress.filesDone, progress.filesTotal, progress.bytesDone, progress.bytesTotal,
            fromUtf8(progress.currentFile)};
}

// Runs call, turning any exception into failed: nothing may unwind into the program.
template <typename Call, typename Result> Result guarded(Call call, Result failed) {
    try {
        return call();
    } catch (...) {
        return failed;
    }
}

PellatrixDesktop* open(const char* cDriveRoot, char* why, std::size_t whySize) {
    return guarded(
        [&]() -> PellatrixDesktop* {
            auto ui = GtkUserInterface::open(DriveMapping(cDriveRoot));
            if (!ui)
                std::snprintf(why, whySize, "GTK cannot open the display");
            return reinterpret_cast<PellatrixDesktop*>(ui.release());
        },
        static_cast<PellatrixDesktop*>(nullptr));
}

GtkUserInterface& uiOf(PellatrixDesktop* desktop) {
    return *reinterpret_cast<GtkUserInterface*>(desktop);
}

GtkCopyProgress& copyOf(PellatrixDesktopCopy* copy) {
    return *reinterpret_cast<GtkCopyProgress*>(copy);
}

int messageBox(PellatrixDesktop* desktop, const char* text, const char* title, int style) {
    return guarded([&] { return uiOf(desktop).messageBox(fromUtf8(text), fromUtf8(title), style); },
                   int{kPellatrixFailed});
}

PellatrixDesktopCopy* beginCopy(PellatrixDesktop* desktop) {
    return guarded(
        [&] {
            return reinterpret_cast<PellatrixDesktopCopy*>(uiOf(desktop).beginCopy().release());
        },
        static_cast<PellatrixDesktopCopy*>(nullptr));
}

void progress(PellatrixDesktopCopy* copy, const PellatrixDesktopProgress* progress) {
    guarded([&] { return copyOf(copy).progress(progressOf(*progress)), 0; }, 0);
}

int cancelRequested(PellatrixDesktopCopy* copy) {
    return copyOf(copy).cancelRequested();
}

int copyFailed(PellatrixDesktopCopy* copy, const char* path, const char* reason) {
    return guarded(
        [&] { return static_cast<int>(copyOf(copy).copyFailed(fromUtf8(path), reason)); },
        int{kPellatrixCancel});
}

void finished(PellatrixDesktopCopy* copy, const PellatrixDesktopProgress* progress) {
    guarded([&] { return copyOf(copy).finished(progressOf(*progress)), 0; }, 0);
    delete &copyOf(copy);
}

void processMessages(PellatrixDesktop* desktop) {
    guarded([&] { return uiOf(desktop).processMessages(), 0; }, 0);
}

void close(PellatrixDesktop* desktop) {
    guarded([&] { return uiOf(desktop).close(), 0; }, 0);
    delete &uiOf(desktop);
}

constexpr PellatrixDesktopModule kModule{open,     messageBox,      beginCopy,
                                         progress, cancelRequested, copyFailed,
                                         finished, processMessages, close};

static_assert(static_cast<int>(ErrorDecision::Retry) == kPellatrixRetry &&
              static_cast<int>(ErrorDecision::Skip) == kPellatrixSkip &&
              static_cast<int>(ErrorDecision::Cancel) == kPellatrixCancel);

} // namespace
} // namespace pellatrix::linuxos::gtk

const PellatrixDesktopModule* pellatrix_desktop_module_v1() {
    return &pellatrix::linuxos::gtk::kModule;
}
