// Timed child processes: posix_spawn for the peers, fork for our own code.
#include "timed_process.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pellatrix::bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for pid; true when it exited with status 0. Adds its peak memory to result.
bool reap(pid_t pid, RunResult& result) {
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            return false;
    result.peakKiB = std::max(result.peakKiB, usage.ru_maxrss);
    for (const timeval& t : {usage.ru_utime, usage.ru_stime})
        result.cpuSeconds += static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool spawnAndWait(const std::vector<std::string>& argv, RunResult& result) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 && reap(pid, result);
}

} // namespace

RunResult runProgram(const std::vector<std::string>& argv) {
    return runPrograms({argv});
}

RunResult runPrograms(const std::vector<std::vector<std::string>>& commands) {
    RunResult result;
    const auto start = Clock::now();
    result.ok = true;
    for (const auto& argv : commands)
        if (!(result.ok = spawnAndWait(argv, result)))
            break;
    result.seconds = secondsSince(start);
    return result;
}

RunResult runForked(const std::function<bool()>& work) {
    RunResult result;
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        bool ok = false;
        try {
            ok = work();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "benchmark run failed: %s\n", error.what());
        }
        std::fflush(nullptr);
        _exit(ok ? 0 : 1);
    }
    result.ok = pid > 0 && reap(pid, result);
    result.seconds = secondsSince(start);
    return result;
}

} // namespace pellatrix::bench
