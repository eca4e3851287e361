// Temporaries named after their process, and telling whether that process still runs.
#include "platform/linux/sys/temporary_names.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

// A process's start time in clock ticks after boot, the 22nd field of /proc/PID/stat; empty
// when it cannot be read.
std::string startTimeOf(const std::string& pid) {
    const std::string path = "/proc/" + pid + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[1024];
    const ssize_t length = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (length <= 0)
        return {};
    const std::string_view stat(buffer, static_cast<std::size_t>(length));
    // The command name (field 2) is in parentheses and may hold anything: count from after it.
    std::size_t at = stat.rfind(')');
    for (int field = 2; field < 22 && at != std::string_view::npos; ++field)
        at = stat.find(' ', at + 1);
    if (at == std::string_view::npos)
        return {};
    return std::string(stat.substr(at + 1, stat.find(' ', at + 1) - at - 1));
}

// Read once per process (a forked child reads its own) and thread.
const std::string& ownStartTime() {
    thread_local pid_t readFor = 0;
    thread_local std::string start;
    if (readFor != getpid()) {
        readFor = getpid();
        start = startTimeOf("self");
    }
    return start;
}

} // namespace

std::string temporaryName(unsigned counter) {
    return kTemporaryPrefix + std::to_string(getpid()) + "-" + ownStartTime() + "-" +
           std::to_string(counter);
}

bool isAbandonedTemporary(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix))
        return false;
    name.remove_prefix(sizeof kTemporaryPrefix - 1);
    // "<pid>-<start>-<counter>"
    const std::size_t dash = name.find('-');
    const std::size_t secondDash = name.find('-', dash + 1);
    pid_t pid = 0;
    const auto parsed = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (parsed.ec != std::errc() || pid <= 0 || dash == std::string_view::npos)
        return true; // not a name this program gives: nobody owns it
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    if (secondDash == std::string_view::npos)
        return false; // a running process of that id; no start time to tell it apart
    const std::string start = startTimeOf(std::to_string(pid));
    // Another process has that id now when its start time differs.
    return !start.empty() && start != name.substr(dash + 1, secondDash - dash - 1);
}

} // namespace pellatrix::linuxos
