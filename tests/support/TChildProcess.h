#pragma once
// Runs a program as a child of the test, its output captured, every wait
// bounded. Started with posix_spawn rather than by forking the test process,
// which has threads of its own (its servers): ThreadSanitizer cannot follow a
// fork of a threaded process.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

class TChildProcess {
public:
    TChildProcess(std::string program, std::vector<std::string> arguments);
    // Ends a child still running (SIGKILL) and reaps it.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Changes the child's environment: a value sets the variable, none
    // removes it. The rest is the test's own.
    void SetEnv(const std::string& name, std::optional<std::string> value);
    void SetWorkingDirectory(std::string dir) { FWorkDir = std::move(dir); }

    bool Start();
    pid_t Pid() const noexcept { return FPid; }
    void Signal(int signo) const;
    // Reads the output until the child has ended; false when timeout passes first.
    bool Wait(std::chrono::milliseconds timeout);

    // After Wait: the exit code, or -2 when a signal ended the child.
    int ExitCode() const noexcept { return FExitCode; }
    const std::string& Out() const noexcept { return FOut; }
    const std::string& Err() const noexcept { return FErr; }

private:
    void ReadOutput(int waitMs);

    std::string FProgram;
    std::vector<std::string> FArguments;
    std::map<std::string, std::optional<std::string>> FEnv;
    std::string FWorkDir;
    pid_t FPid = -1;
    int FOutFd = -1, FErrFd = -1;
    int FExitCode = -1;
    std::string FOut, FErr;
};
