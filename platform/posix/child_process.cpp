#include "platform/child_process.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <new>

extern char** environ;

namespace platform {

struct ChildProcess {
    pid_t id;
    int output;  // read end of the pipe
    bool collected;
    ChildExit exit;
};

namespace {

bool collect(ChildProcess* child, bool wait) noexcept {
    if (child->collected) {
        return true;
    }
    int status = 0;
    pid_t done = waitpid(child->id, &status, wait ? 0 : WNOHANG);
    if (done != child->id) {
        return false;
    }
    child->collected = true;
    if (WIFSIGNALED(status)) {
        child->exit = ChildExit{true, WTERMSIG(status)};
    } else {
        child->exit = ChildExit{false, WEXITSTATUS(status)};
    }
    return true;
}

}  // namespace

bool startChild(ChildProcess*& child, const char* const* argv) noexcept {
    child = nullptr;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    // The child starts with default signal handling and nothing blocked,
    // whatever the parent did with its own signals.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t id = 0;
    int failed = posix_spawn(&id, argv[0], &actions, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    if (failed != 0) {
        close(ends[0]);
        return false;
    }
    child = new (std::nothrow) ChildProcess{id, ends[0], false, ChildExit{false, 0}};
    if (child == nullptr) {
        kill(id, SIGKILL);
        waitpid(id, nullptr, 0);
        close(ends[0]);
        return false;
    }
    return true;
}

int readChildOutput(ChildProcess* child, char* buffer, size_t capacity, int32_t timeoutMicros) noexcept {
    if (child == nullptr) {
        return -2;
    }
    pollfd entry{child->output, POLLIN, 0};
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(timeoutMicros / 1000000);
    timeout.tv_nsec = static_cast<long>(timeoutMicros % 1000000) * 1000L;
    int ready = ppoll(&entry, 1, &timeout, nullptr);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return -1;
    }
    if (ready < 0) {
        return -2;
    }
    ssize_t count = read(child->output, buffer, capacity);
    return count < 0 ? -2 : static_cast<int>(count);
}

bool interruptChild(ChildProcess* child) noexcept {
    return child != nullptr && !child->collected && kill(child->id, SIGINT) == 0;
}

bool killChild(ChildProcess* child) noexcept {
    return child != nullptr && !child->collected && kill(child->id, SIGKILL) == 0;
}

bool waitChild(ChildProcess* child, uint32_t timeoutMillis, ChildExit& exit) noexcept {
    if (child == nullptr) {
        return false;
    }
    // Polled in short steps: a blocking waitpid has no time-out.
    for (uint32_t waited = 0;; waited += 5) {
        if (collect(child, false)) {
            exit = child->exit;
            return true;
        }
        if (waited >= timeoutMillis) {
            return false;
        }
        timespec step{0, 5 * 1000000L};
        nanosleep(&step, nullptr);
    }
}

void releaseChild(ChildProcess* child) noexcept {
    if (child == nullptr) {
        return;
    }
    if (!collect(child, false)) {
        kill(child->id, SIGKILL);
        collect(child, true);
    }
    close(child->output);
    delete child;
}

}  // namespace platform
