// Paths and names as a person at a Linux terminal or desktop sees them.
#pragma once

#include "platform/linux/files/drive_mapping.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace pellatrix::linuxos {

// The one form in which the Linux program shows a path, in UTF-8: the native path that a
// Windows path stands for ("C:\Tolvex\Model\" -> "~/.local/share/Tolvex/Model", with the home
// folder written "~"; "Z:\tmp\x" -> "/tmp/x"), escaped by escapeControlCharacters. Text that
// names no path on a drive is shown as it stands, escaped the same way.
std::string displayPath(const DriveMapping& drives, const Text& windowsPath);

// Text that cannot act on a terminal, as `ls -b` writes names: control characters (C0, DEL
// and C1) and bytes that are not UTF-8 become backslash escapes ("\n", "\033", "\302\233"),
// and a backslash becomes "\\", so that every escape reads back one way.
std::string escapeControlCharacters(std::string_view utf8);

// How far a copy has come, as every Linux interface shows it: "3 of 120 files", "0 of 1 file".
std::string fileCountText(std::uint64_t done, std::uint64_t total);

} // namespace pellatrix::linuxos
