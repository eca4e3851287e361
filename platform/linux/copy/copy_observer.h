// What the copy engine tells the person watching it, and what it asks them.
#pragma once

#include "platform/platform_error.h"
#include "platform/platform_services.h"

#include <cstdint>
#include <system_error>

namespace pellatrix::linuxos {

struct CopyProgress {
    std::uint64_t filesDone = 0;
    std::uint64_t filesTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    Text currentFile; // Windows path of the file being copied
};

// The choices of the copy's error dialog.
enum class ErrorDecision { Retry, Skip, Cancel };

class CopyObserver {
  public:
    virtual ~CopyObserver() = default;
    // Called before each file and after each chunk of data; throttles its own display.
    virtual void progress(const CopyProgress& progress) = 0;
    // Polled between files and chunks: true once the person asked to cancel.
    virtual bool cancelRequested() = 0;
    // A file or folder could not be copied: ask what to do.
    virtual ErrorDecision copyFailed(const Text& path, const std::error_code& error) = 0;
    // The copy has ended (completed, failed or cancelled): close the progress display.
    virtual void finished(const CopyProgress& progress) = 0;
    // Another copy is writing into `destination`: true to wait for it to end (the copy then
    // keeps calling progress and cancelRequested while it waits), false when waiting is not
    // possible here, and the copy is refused. Unless the display says so in a way of its own,
    // it asks with the error question, Retry standing for "wait".
    virtual bool waitForOtherCopy(const Text& destination) {
        return copyFailed(destination, make_error_code(PellatrixError::DestinationBusy)) ==
               ErrorDecision::Retry;
    }
};

// Watches nothing and asks nobody: a failing file is skipped. For benchmarks and tests.
class SilentCopyObserver : public CopyObserver {
  public:
    void progress(const CopyProgress&) override {}
    bool cancelRequested() override { return false; }
    ErrorDecision copyFailed(const Text&, const std::error_code&) override {
        return ErrorDecision::Skip;
    }
    void finished(const CopyProgress&) override {}
};

} // namespace pellatrix::linuxos
