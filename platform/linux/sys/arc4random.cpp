// arc4random for the C++ runtime linked into the program and the dialogs' module: GCC 12's
// libstdc++ calls it in std::random_device (which nothing here uses), and glibc offers it only
// from 2.36 on. This definition keeps the binaries starting on glibc 2.35, and draws from the
// same kernel source as glibc's own.
#include <sys/random.h>

#include <cstdint>

// Hidden: it serves the runtime linked in here, and stands in for no other library's.
extern "C" __attribute__((visibility("hidden"))) std::uint32_t arc4random() {
    std::uint32_t value = 0;
    while (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
    }
    return value;
}
