// The names of the copy's temporaries, which say which process wrote them: a later run
// removes those of a process that is gone and leaves those of a running one alone.
#pragma once

#include <string>
#include <string_view>

namespace pellatrix::linuxos {

// The prefix of every temporary.
inline constexpr char kTemporaryPrefix[] = ".pellatrix-tmp-";

// A new temporary's name for this process: the prefix, the process id, the process's start
// time (so that a later process given the same id is told apart) and counter.
std::string temporaryName(unsigned counter);

// True when name is a temporary (it has the prefix) whose process is gone.
bool isAbandonedTemporary(std::string_view name);

} // namespace pellatrix::linuxos
