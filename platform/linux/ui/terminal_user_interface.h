// Message boxes, copy progress and the copy's error questions on the controlling terminal.
#pragma once

#include "platform/linux/sys/unique_fd.h"
#include "platform/linux/ui/user_interface.h"

namespace pellatrix::linuxos {

class TerminalUserInterface : public UserInterface {
  public:
    // Paths are shown as displayPath shows them with these drives.
    explicit TerminalUserInterface(DriveMapping drives) : drives_(std::move(drives)) {}

    // Message boxes show their text as it stands: the program's own texts, and error reports
    // whose paths displayPath has made safe already.
    int messageBox(const Text& text, const Text& title, int style) override;
    std::unique_ptr<CopyObserver> beginCopy() override;
    void processMessages() override {} // a terminal has no events waiting
    void close() override { terminal_.reset(); }

    // Reads one answer line from the terminal; false at end of input or on Ctrl-C.
    bool readLine(std::string& line);
    void write(const std::string& text);
    // Opens the controlling terminal; false when the process has none.
    bool openTerminal();
    const DriveMapping& drives() const { return drives_; }

  private:
    DriveMapping drives_;
    UniqueFd terminal_;
};

// Parses an answer to a Yes/No question: 1 Yes, 0 No, -1 not an answer. Empty is the default, Yes.
int parseYesNo(const std::string& answer);

} // namespace pellatrix::linuxos
