// Timed child processes: posix_spawn for the peers, fork for our own code.
#include "timed_process.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
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

RunResult runInTerminal(const std::vector<std::string>& argv, const std::string& cwd,
                        const std::vector<std::string>& env,
                        const std::vector<std::pair<std::string, std::string>>& answers) {
    std::vector<char*> args, environment;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const std::string& variable : env)
        environment.push_back(const_cast<char*>(variable.c_str()));
    environment.push_back(nullptr);
    RunResult result;
    std::fflush(nullptr);
    const auto start = Clock::now();
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(cwd.c_str()) == 0)
            execve(args[0], args.data(), environment.data());
        _exit(127);
    }
    if (pid < 0)
        return result;
    // Reads what the program shows, and types each answer after its prompt.
    std::string screen;
    std::size_t next = 0, searchFrom = 0;
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 300'000) <= 0)
            break; // silent for five minutes: give up
        char buffer[4096];
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break; // the program has ended and closed the terminal
        screen.append(buffer, static_cast<std::size_t>(n));
        while (next < answers.size()) {
            const std::size_t at = screen.find(answers[next].first, searchFrom);
            if (at == std::string::npos)
                break;
            searchFrom = at + answers[next].first.size();
            const std::string& reply = answers[next++].second;
            if (write(terminal, reply.data(), reply.size()) < 0)
                break;
        }
    }
    result.ok = reap(pid, result);
    result.seconds = secondsSince(start);
    close(terminal);
    if (!result.ok)
        std::fprintf(stderr, "the program in the terminal failed; it showed:\n%s\n",
                     screen.c_str());
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
