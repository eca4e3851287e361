// Runs one timed piece of work in its own process, so that every run, ours and the peers',
// pays for a process and reports its own peak resident memory.
#pragma once

#include <functional>
#include <string>
#include <utility>
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

// Runs a program with a pseudo-terminal as its controlling terminal, in the folder cwd and
// with the environment env ("NAME=value"), answering what it asks: each reply is typed once
// the prompt before it has been shown. It succeeds when the program exits with status 0.
RunResult runInTerminal(const std::vector<std::string>& argv, const std::string& cwd,
                        const std::vector<std::string>& env,
                        const std::vector<std::pair<std::string, std::string>>& answers);

// Runs work in a forked child of this process; it succeeds when work returns true.
RunResult runForked(const std::function<bool()>& work);

} // namespace pellatrix::bench
