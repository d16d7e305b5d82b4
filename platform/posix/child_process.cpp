#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/thread.h"

extern char** environ;

namespace platform {

namespace {

std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts) {
        pointers.push_back(const_cast<char*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged(extra);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string own = *entry;
        auto sameName = [&](const std::string& x) {
            return own.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
        };
        if (std::none_of(extra.begin(), extra.end(), sameName)) {
            merged.push_back(own);
        }
    }
    return merged;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void becomeProgram(char* const* args, char* const* envp, const char* out, const char* err) {
    int input = open("/dev/null", O_RDONLY);
    int output = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errors = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0 || errors < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0) {
        _exit(127);
    }
    // A clean signal mask: the caller's blocked stop signals must not leak in.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(args[0], args, envp);
    _exit(127);
}

}  // namespace

bool startChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                       const std::string& errorPath, const std::vector<std::string>& environment, ChildProcess& child) {
    child = ChildProcess{};
    if (argv.empty()) {
        return false;
    }
    // Everything the child needs is made before fork: the caller may run threads.
    std::vector<std::string> env = mergedEnvironment(environment);
    std::vector<char*> args = pointersTo(argv);
    std::vector<char*> envp = pointersTo(env);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        becomeProgram(args.data(), envp.data(), outputPath.c_str(), errorPath.c_str());
    }
    if (pid < 0) {
        return false;
    }
    child.native = pid;
    child.id = static_cast<uint32_t>(pid);
    return true;
}

bool waitChildProcess(ChildProcess& child, uint32_t timeoutMillis, int& status) noexcept {
    if (!child.isRunning()) {
        return false;
    }
    const uint64_t deadline = monotonicMillis() + timeoutMillis;
    for (;;) {
        int raw = 0;
        if (waitpid(child.native, &raw, WNOHANG) == child.native) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            child.native = kNoNativeProcess;
            return true;
        }
        if (monotonicMillis() >= deadline) {
            return false;
        }
        sleepMillis(2);
    }
}

bool requestChildStop(const ChildProcess& child) noexcept {
    return child.isRunning() && kill(child.native, SIGTERM) == 0;
}

bool killChildProcess(const ChildProcess& child) noexcept {
    return child.isRunning() && kill(child.native, SIGKILL) == 0;
}

}  // namespace platform
