// The descriptor limit.
#include "platform/linux/sys/descriptor_limit.h"

#include <sys/resource.h>

namespace pellatrix::linuxos {

bool raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::size_t descriptorsAllowed() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 16;
    return static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace pellatrix::linuxos
