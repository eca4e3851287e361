// Runs one timed piece of work in its own process, so that every run, ours and the peers',
// pays for a process and reports its own peak resident memory.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pellatrix::bench {

struct RunResult {
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of the process(es)
    long peakKiB = 0;      // the process's ru_maxrss
    bool ok = false;
};

// Runs a program (found on PATH) with its output discarded.
RunResult runProgram(const std::vector<std::string>& argv);

// Runs several programs one after the other, timed together; stops at the first failure.
RunResult runPrograms(const std::vector<std::vector<std::string>>& commands);

// Runs work in a forked child of this process; it succeeds when work returns true.
RunResult runForked(const std::function<bool()>& work);

} // namespace pellatrix::bench
