// The program's side of the boundary (desktop_module.h): finds and loads the module, and
// speaks to it through C functions only.
#include "platform/linux/ui/gtk/desktop_loader.h"

#include "platform/linux/ui/gtk/desktop_module.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace pellatrix::linuxos {
namespace {

constexpr const char* kModuleName = "pellatrix-gtk.so";

[[noreturn]] void cannotShow(const char* what) {
    throw PlatformError(make_error_code(PellatrixError::NoWayToAsk), what, {});
}

PellatrixDesktopProgress progressOf(const CopyProgress& progress, const std::string& file) {
    return {progress.filesDone, progress.filesTotal, progress.bytesDone, progress.bytesTotal,
            file.c_str()};
}

class DesktopCopy : public CopyObserver {
  public:
    DesktopCopy(const PellatrixDesktopModule& module, PellatrixDesktopCopy* copy)
        : module_(module), copy_(copy) {}
    ~DesktopCopy() override {
        if (copy_)
            finished({});
    }

    void progress(const CopyProgress& progress) override {
        const std::string file = toUtf8(progress.currentFile);
        const PellatrixDesktopProgress shown = progressOf(progress, file);
        module_.progress(copy_, &shown);
    }
    bool cancelRequested() override { return module_.cancelRequested(copy_) != 0; }
    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override {
        return static_cast<ErrorDecision>(
            module_.copyFailed(copy_, toUtf8(path).c_str(), error.message().c_str()));
    }
    void finished(const CopyProgress& progress) override {
        const std::string file = toUtf8(progress.currentFile);
        const PellatrixDesktopProgress shown = progressOf(progress, file);
        module_.finished(std::exchange(copy_, nullptr), &shown);
    }

  private:
    const PellatrixDesktopModule& module_;
    PellatrixDesktopCopy* copy_;
};

class DesktopUserInterface : public UserInterface {
  public:
    DesktopUserInterface(const PellatrixDesktopModule& module, PellatrixDesktop* desktop)
        : module_(module), desktop_(desktop) {}
    ~DesktopUserInterface() override { close(); }

    int messageBox(const Text& text, const Text& title, int style) override {
        const int reply =
            module_.messageBox(desktop_, toUtf8(text).c_str(), toUtf8(title).c_str(), style);
        if (reply == kPellatrixFailed)
            cannotShow("show a message box");
        return reply;
    }
    std::unique_ptr<CopyObserver> beginCopy() override {
        PellatrixDesktopCopy* copy = module_.beginCopy(desktop_);
        if (!copy)
            cannotShow("show the progress window");
        return std::make_unique<DesktopCopy>(module_, copy);
    }
    void processMessages() override { module_.processMessages(desktop_); }
    void close() override {
        if (desktop_)
            module_.close(std::exchange(desktop_, nullptr));
    }

  private:
    const PellatrixDesktopModule& module_;
    PellatrixDesktop* desktop_;
};

bool displayNamed() {
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

// The program's own path: where /proc is not mounted (a bare chroot), the path it was started
// by, which is relative to the current directory, as the program never changes it.
std::string programPath() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0)
        return std::string(self, static_cast<std::size_t>(length));
    const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    return started ? started : "";
}

// The module beside the program, else where `cmake --install` puts it; "" when neither is.
std::string findModule() {
    std::string folder = programPath();
    const auto slash = folder.rfind('/');
    if (slash == std::string::npos)
        return {}; // never the current directory: that is the medium's
    folder.erase(slash + 1);
    for (const std::string& candidate :
         {folder + kModuleName, folder + "../lib/pellatrix/" + kModuleName})
        if (access(candidate.c_str(), R_OK) == 0)
            return candidate;
    return {};
}

const PellatrixDesktopModule* loadModule(std::string& why) {
    const std::string path = findModule();
    if (path.empty()) {
        why = std::string(kModuleName) + " is neither beside the program nor in ../lib/pellatrix";
        return nullptr;
    }
    // Never unloaded: GTK cannot be.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        why = dlerror();
        return nullptr;
    }
    using Entry = const PellatrixDesktopModule* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, PELLATRIX_DESKTOP_MODULE_SYMBOL));
    if (!entry) {
        why = dlerror();
        return nullptr;
    }
    return entry();
}

} // namespace

std::unique_ptr<UserInterface> makeGtkUserInterface(const DriveMapping& drives) {
    if (!displayNamed())
        return nullptr;
    std::string why;
    if (const PellatrixDesktopModule* module = loadModule(why)) {
        char reason[256] = "";
        if (PellatrixDesktop* desktop =
                module->open(drives.cDriveRoot().c_str(), reason, sizeof reason))
            return std::make_unique<DesktopUserInterface>(*module, desktop);
        why = reason;
    }
    std::fprintf(stderr, "pellatrix: no desktop dialogs: %s\n", why.c_str());
    return nullptr;
}

} // namespace pellatrix::linuxos
