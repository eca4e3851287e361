// The Linux entry point: the Linux platform, the job, the exit status.
#include "platform/linux/display_text.h"
#include "platform/linux/linux_platform.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"
#include "startup/mdl2.h"
#include "startup/run_program.h"

#include <cstdio>

int main() {
    using namespace pellatrix;
    const auto toStandardError = [](const Text& report) {
        std::fprintf(stderr, "Tolvex: %s\n", toUtf8(report).c_str());
    };
    try {
        const linux::DriveMapping drives = linux::DriveMapping::fromEnvironment();
        linux::LinuxPlatform platform(drives, linux::makeUserInterface(drives));
        // A Linux user reads Linux paths: the report shows the native one.
        return runProgram(platform, toStandardError, [&drives](const Text& path) {
            return fromUtf8(linux::displayPath(drives, path));
        });
    } catch (const std::exception& error) {
        toStandardError(describeError(error)); // the platform itself could not be made
        return Mdl2::kExitError;
    }
}
