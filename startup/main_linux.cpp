// The Linux entry point: the command line (GNU conventions), the Linux platform, the job, the
// exit status.
#include "platform/linux/linux_platform.h"
#include "platform/linux/sys/descriptor_limit.h"
#include "platform/linux/ui/display_text.h"
#include "platform/linux/ui/logging_user_interface.h"
#include "platform/linux/ui/unattended_user_interface.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"
#include "startup/mdl2.h"
#include "startup/run_program.h"
#include "startup/version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <optional>
#include <string>

namespace {

using namespace pellatrix;

constexpr char kUsage[] =
    "Usage: pellatrix [--yes] [--log=FILE]\n"
    "Install the model files of a distribution medium: run it in the folder that holds\n"
    "\"Model\". It asks \"May I copy the Model file?\", copies Model into Tolvex/Model in\n"
    "$XDG_DATA_HOME (~/.local/share when that is not set), makes the copies writable and\n"
    "closes with \"Processing end\".\n"
    "\n"
    "  -y, --yes      install without asking and without the closing message; a file that\n"
    "                 cannot be copied is skipped and reported on standard error\n"
    "      --log=FILE write the start, each file skipped, any error and the exit status\n"
    "                 into FILE, one line each (FILE is emptied first)\n"
    "      --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Exit status: 0 copied; 1 not copied (the answer was No); 2 a file could not be\n"
    "copied or the copy was cancelled; 3 an error ended the program; 4 bad command line.\n"
    "See pellatrix(1).\n";

enum class Action { Install, InstallUnattended, ShowHelp, ShowVersion, Refuse };

struct CommandLine {
    Action action = Action::Install;
    std::string problem;                               // what was wrong with it, for Action::Refuse
    std::optional<std::string> logFile = std::nullopt; // --log
};

enum : int { kHelpOption = 256, kVersionOption, kLogOption };

// What getopt_long found wrong with the argument it has just read.
std::string describeBadOption(int argc, char** argv) {
    const std::string argument = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    if (optopt == 0)
        return "unrecognized option '" + argument + "'";
    const auto value = argument.find('=');
    if (argument.starts_with("--") && value != std::string::npos)
        return "option '" + argument.substr(0, value) + "' doesn't allow an argument";
    return std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
}

CommandLine readCommandLine(int argc, char** argv) {
    static const option kOptions[] = {{"yes", no_argument, nullptr, 'y'},
                                      {"help", no_argument, nullptr, kHelpOption},
                                      {"version", no_argument, nullptr, kVersionOption},
                                      {"log", required_argument, nullptr, kLogOption},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0; // the messages are ours, in one form
    CommandLine line;
    for (;;) {
        switch (getopt_long(argc, argv, "y", kOptions, nullptr)) {
        case -1:
            if (optind < argc)
                return {Action::Refuse, std::string("extra operand '") + argv[optind] + "'"};
            return line;
        case 'y':
            line.action = Action::InstallUnattended;
            break;
        case kLogOption:
            line.logFile = optarg;
            break;
        case kHelpOption:
            return {Action::ShowHelp, {}};
        case kVersionOption:
            return {Action::ShowVersion, {}};
        default:
            return {Action::Refuse, describeBadOption(argc, argv)};
        }
    }
}

// Writes text on standard output; status 0, or 3 when it could not be written (a full disk,
// a closed pipe).
int printOnStandardOutput(const char* text) {
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "pellatrix: write error: %s\n", std::strerror(errno));
    return Mdl2::kExitError;
}

void reportOnStandardError(const Text& report) {
    std::fprintf(stderr, "Tolvex: %s\n", toUtf8(report).c_str());
}

} // namespace

int main(int argc, char** argv) {
    // The copy keeps many files open at once; where the raise is refused, it keeps fewer.
    pellatrix::linuxos::raiseDescriptorLimit();
    const CommandLine line = readCommandLine(argc, argv);
    switch (line.action) {
    case Action::ShowHelp:
        return printOnStandardOutput(kUsage);
    case Action::ShowVersion:
        return printOnStandardOutput("pellatrix " PELLATRIX_VERSION_TEXT "\n");
    case Action::Refuse:
        std::fprintf(stderr, "pellatrix: %s\nTry 'pellatrix --help' for more information.\n",
                     line.problem.c_str());
        return Mdl2::kExitBadCommandLine;
    case Action::Install:
    case Action::InstallUnattended:
        break;
    }
    const bool unattended = line.action == Action::InstallUnattended;
    try {
        const linuxos::DriveMapping drives = linuxos::DriveMapping::fromEnvironment();
        // A Linux user reads Linux paths: the report and the log show the native ones.
        const PathDisplay showPath = [&drives](const Text& path) {
            return fromUtf8(linuxos::displayPath(drives, path));
        };
        std::unique_ptr<linuxos::UserInterface> ui =
            unattended ? std::make_unique<linuxos::UnattendedUserInterface>(drives)
                       : linuxos::makeUserInterface(drives);
        std::optional<InstallLog> log;
        StartOptions options = unattended ? kUnattended : StartOptions{};
        if (line.logFile) {
            options.log = &log.emplace(*line.logFile, showPath);
            ui = std::make_unique<linuxos::LoggingUserInterface>(
                std::move(ui), [&log](const Text& path, const std::error_code& why) {
                    log->write(path.empty() ? Text(u"The copy was cancelled")
                                            : u"Skipped " + log->quoted(path) + u": " +
                                                  fromUtf8(why.message()));
                });
        }
        linuxos::LinuxPlatform platform(drives, std::move(ui));
        return runProgram(platform, options, reportOnStandardError, showPath);
    } catch (const std::exception& error) {
        reportOnStandardError(describeError(error)); // the platform itself could not be made
        return Mdl2::kExitError;
    }
}
