// The terminal's dialogs: a title line, the text, the buttons, and an answer typed on the
// controlling terminal (not standard input, which may be redirected).
#include "platform/linux/ui/terminal_user_interface.h"

#include "platform/linux/sys/cancel_signals.h"
#include "platform/linux/ui/display_text.h"
#include "platform/linux/ui/progress_throttle.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

std::string lowerTrimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    std::string out = text.substr(begin, end - begin);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "512 bytes", "2.0 KB", "3.4 MB", "1.2 GB".
std::string readableSize(std::uint64_t bytes) {
    const char* units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

class TerminalCopyObserver : public CopyObserver {
  public:
    explicit TerminalCopyObserver(TerminalUserInterface& ui)
        : ui_(ui), interactive_(isatty(STDERR_FILENO) == 1),
          // A line a second where the progress is written to a log rather than redrawn.
          throttle_(interactive_ ? ProgressThrottle::Clock::duration(std::chrono::milliseconds(250))
                                 : std::chrono::seconds(1)) {}

    void progress(const CopyProgress& progress) override {
        if (!throttle_.due(ProgressThrottle::Clock::now()))
            return;
        show(progress);
    }

    bool cancelRequested() override { return CancelSignals::raised(); }

    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override {
        clearLine();
        const std::string problem =
            "Could not copy \"" + displayPath(ui_.drives(), path) + "\": " + error.message();
        if (!ui_.openTerminal()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return ErrorDecision::Cancel;
        }
        ui_.write("\n" + problem + "\n");
        for (;;) {
            ui_.write("Retry / Skip / Cancel [Retry]: ");
            std::string line;
            if (!ui_.readLine(line)) {
                ui_.write("\n");
                return ErrorDecision::Cancel;
            }
            const std::string answer = lowerTrimmed(line);
            if (answer.empty() || answer == "r" || answer == "retry")
                return ErrorDecision::Retry;
            if (answer == "s" || answer == "skip")
                return ErrorDecision::Skip;
            if (answer == "c" || answer == "cancel")
                return ErrorDecision::Cancel;
        }
    }

    void finished(const CopyProgress& progress) override {
        if (shownOnce_) {
            show(progress);
            std::fputs(interactive_ ? "\n" : "", stderr);
        }
        if (CancelSignals::raised())
            std::fputs("Copy cancelled.\n", stderr);
    }

  private:
    void show(const CopyProgress& p) {
        shownOnce_ = true;
        const std::string line = "Copying " + fileCountText(p.filesDone, p.filesTotal) + ", " +
                                 readableSize(p.bytesDone) + " of " + readableSize(p.bytesTotal) +
                                 ": " + displayPath(ui_.drives(), p.currentFile);
        if (interactive_)
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
        else
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    void clearLine() {
        if (interactive_ && shownOnce_)
            std::fputs("\r\033[K", stderr);
    }

    TerminalUserInterface& ui_;
    // Ctrl-C cancels the copy instead of ending the program, and a prompt's read returns.
    CancelSignals interrupt_{{SIGINT}, false};
    const bool interactive_;
    bool shownOnce_ = false;
    ProgressThrottle throttle_;
};

} // namespace

int parseYesNo(const std::string& answer) {
    const std::string a = lowerTrimmed(answer);
    if (a.empty() || a == "y" || a == "yes")
        return 1;
    if (a == "n" || a == "no")
        return 0;
    return -1;
}

bool TerminalUserInterface::openTerminal() {
    if (!terminal_)
        terminal_ = UniqueFd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    return static_cast<bool>(terminal_);
}

void TerminalUserInterface::write(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(terminal_.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

bool TerminalUserInterface::readLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        const ssize_t n = ::read(terminal_.get(), &c, 1);
        if (n < 0 && errno == EINTR && !CancelSignals::raised())
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line.push_back(c);
    }
}

int TerminalUserInterface::messageBox(const Text& text, const Text& title, int style) {
    if (!openTerminal())
        throw PlatformError(make_error_code(PellatrixError::NoWayToAsk), "ask", text);
    const bool yesNo = (style & 0xF) == MessageBoxStyle::YesNo;
    const bool error = (style & 0xF0) == MessageBoxStyle::IconError;
    std::string box = "\n";
    box += toUtf8(title);
    box += error ? " - Error\n" : "\n";
    box += toUtf8(text);
    box += '\n';
    write(box);
    for (;;) {
        write(yesNo ? "Yes / No [Yes]: " : "OK [Enter]: ");
        std::string line;
        if (!readLine(line)) {
            write("\n");
            return yesNo ? Reply::No : Reply::Ok; // end of input closes the box
        }
        if (!yesNo)
            return Reply::Ok;
        switch (parseYesNo(line)) {
        case 1:
            return Reply::Yes;
        case 0:
            return Reply::No;
        default:
            write("Please answer Yes or No.\n");
        }
    }
}

std::unique_ptr<CopyObserver> TerminalUserInterface::beginCopy() {
    return std::make_unique<TerminalCopyObserver>(*this);
}

} // namespace pellatrix::linuxos
