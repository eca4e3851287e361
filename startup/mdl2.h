// Mdl2: the program's fixed declarations. The records, attribute bits and reply codes that
// every layer shares live with the platform interface; these are the start-up's own.
#pragma once

#include "platform/platform_services.h"

namespace pellatrix::Mdl2 {

inline constexpr char16_t kTitle[] = u"Tolvex";
inline constexpr char16_t kQuestion[] = u"May I copy the Model file?";
inline constexpr char16_t kClosingMessage[] = u"Processing end";
inline constexpr char16_t kSourceFolder[] = u"Model\\*.*";
// The destination and the folders above it that must not be links.
inline constexpr char16_t kDestinationFolder[] = u"C:\\Tolvex\\Model\\";
inline constexpr const char16_t* kGuardedFolders[] = {u"C:\\Tolvex", u"C:\\Tolvex\\Model"};

inline constexpr int kQuestionStyle = MessageBoxStyle::YesNo | MessageBoxStyle::IconQuestion;
inline constexpr int kClosingStyle = MessageBoxStyle::Ok;
inline constexpr int kErrorStyle = MessageBoxStyle::Ok | MessageBoxStyle::IconError;
inline constexpr std::int16_t kModeCopy = 2;
inline constexpr std::int16_t kModeMove = 1;

// Exit statuses of the program.
inline constexpr int kExitCopied = 0;
inline constexpr int kExitDeclined = 1;
inline constexpr int kExitCopyFailed = 2;
inline constexpr int kExitError = 3;
inline constexpr int kExitBadCommandLine = 4; // the Linux program's; the Windows one ignores it

} // namespace pellatrix::Mdl2
