#include "TChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TChildProcess::TChildProcess(std::string program, std::vector<std::string> arguments)
    : FProgram(std::move(program)), FArguments(std::move(arguments)) {}

TChildProcess::~TChildProcess() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    for (int fd : {FOutFd, FErrFd})
        if (fd >= 0)
            close(fd);
}

void TChildProcess::SetEnv(const std::string& name, std::optional<std::string> value) {
    FEnv[name] = std::move(value);
}

bool TChildProcess::Start() {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!FEnv.count(entry.substr(0, entry.find('='))))
            env.push_back(entry);
    }
    for (const auto& [name, value] : FEnv)
        if (value)
            env.push_back(name + "=" + *value);
    std::vector<char*> argv{FProgram.data()}, envp;
    for (std::string& a : FArguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!FWorkDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, FWorkDir.c_str());
    const int rc = posix_spawnp(&FPid, FProgram.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOutFd = out[0];
    FErrFd = err[0];
    if (rc != 0) {
        FPid = -1;
        FErr = std::strerror(rc);
        return false;
    }
    return true;
}

void TChildProcess::Signal(int signo) const {
    if (FPid > 0)
        kill(FPid, signo);
}

// Reads what is there on the two pipes, waiting up to waitMs for something.
void TChildProcess::ReadOutput(int waitMs) {
    pollfd fds[2] = {{FOutFd, POLLIN, 0}, {FErrFd, POLLIN, 0}};
    if (poll(fds, 2, waitMs) <= 0)
        return;
    for (int i = 0; i < 2; ++i) {
        int& fd = i == 0 ? FOutFd : FErrFd;
        if (fd < 0 || fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? FOut : FErr).append(buffer, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }
}

bool TChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FPid > 0) {
        ReadOutput(20);
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            FPid = -1;
        } else if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    // What the child wrote last; a grandchild may hold the pipes open, so
    // only what is there already.
    for (int round = 0; round < 100 && (FOutFd >= 0 || FErrFd >= 0); ++round) {
        const std::size_t before = FOut.size() + FErr.size();
        ReadOutput(round == 0 ? 20 : 0);
        if (FOut.size() + FErr.size() == before)
            break;
    }
    return true;
}
