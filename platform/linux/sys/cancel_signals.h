// Signals that cancel the work under way instead of ending the program, while an object of
// this class lives.
#pragma once

#include <csignal>
#include <initializer_list>
#include <utility>
#include <vector>

namespace pellatrix::linuxos {

class CancelSignals {
  public:
    // With restartCalls, calls that a signal interrupts go on (SA_RESTART); without it they
    // return EINTR, so that a prompt's read ends at once. A signal that the program was started
    // ignoring (a background job of a script) stays ignored.
    CancelSignals(std::initializer_list<int> signals, bool restartCalls);
    ~CancelSignals();
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;

    // Whether one of the signals came since the last object was made.
    static bool raised();

  private:
    std::vector<std::pair<int, struct sigaction>> previous_;
};

} // namespace pellatrix::linuxos
