#include "platform/linux/sys/cancel_signals.h"

#include <atomic>

namespace pellatrix::linuxos {
namespace {

std::atomic<bool> cancelled{false};

extern "C" void onCancelSignal(int) {
    cancelled = true;
}

} // namespace

CancelSignals::CancelSignals(std::initializer_list<int> signals, bool restartCalls) {
    cancelled = false;
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartCalls ? SA_RESTART : 0;
    for (const int signal : signals) {
        struct sigaction previous {};
        sigaction(signal, &action, &previous);
        if (previous.sa_handler == SIG_IGN)
            sigaction(signal, &previous, nullptr);
        previous_.emplace_back(signal, previous);
    }
}

CancelSignals::~CancelSignals() {
    for (const auto& [signal, previous] : previous_)
        sigaction(signal, &previous, nullptr);
}

bool CancelSignals::raised() {
    return cancelled;
}

} // namespace pellatrix::linuxos
