// The boundary between the program and its desktop dialogs, which live in a module of their
// own (pellatrix-gtk.so) that the program loads with dlopen only when a display is named. Each
// side carries its own static C++ runtime, so only C types cross: texts are UTF-8 (names that
// are not valid UTF-8 as their raw bytes), and no exception leaves the module.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct PellatrixDesktop;     // the dialogs' hidden main window
struct PellatrixDesktopCopy; // the progress window of one copy

struct PellatrixDesktopProgress {
    std::uint64_t filesDone, filesTotal, bytesDone, bytesTotal;
    const char* currentFile; // a Windows path, "" for none
};

// The answers of copyFailed, and the failure that ends a call.
enum { kPellatrixRetry = 0, kPellatrixSkip = 1, kPellatrixCancel = 2, kPellatrixFailed = -1 };

struct PellatrixDesktopModule {
    // Opens the display named by the environment; nullptr with why (a line of text) when it
    // cannot. cDriveRoot: the native folder that C:\ stands for, for the paths shown.
    PellatrixDesktop* (*open)(const char* cDriveRoot, char* why, std::size_t whySize);
    // A modal message box (Windows style bits); the reply, or kPellatrixFailed.
    int (*messageBox)(PellatrixDesktop*, const char* text, const char* title, int style);
    PellatrixDesktopCopy* (*beginCopy)(PellatrixDesktop*);
    void (*progress)(PellatrixDesktopCopy*, const PellatrixDesktopProgress*);
    int (*cancelRequested)(PellatrixDesktopCopy*);
    // A Windows path that could not be copied and why: kPellatrixRetry, Skip or Cancel.
    int (*copyFailed)(PellatrixDesktopCopy*, const char* path, const char* reason);
    // Shows the last progress, closes the window and frees the copy.
    void (*finished)(PellatrixDesktopCopy*, const PellatrixDesktopProgress*);
    void (*processMessages)(PellatrixDesktop*);
    // Closes every window and frees the desktop.
    void (*close)(PellatrixDesktop*);
};

// The one symbol the module exports.
#define PELLATRIX_DESKTOP_MODULE_SYMBOL "pellatrix_desktop_module_v1"
__attribute__((visibility("default"))) const PellatrixDesktopModule* pellatrix_desktop_module_v1();
}
