#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "ChildProcess.h"
#include "TextCodec.h"

namespace kestrove::testing {

namespace {

[[noreturn]] void ChildMain(const std::function<int(std::string&)>& body, bool asNobody,
                            unsigned timeoutSeconds, int output) {
    ::alarm(timeoutSeconds);
    if (asNobody && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(120);
        }
    }
    std::string text;
    int code = 121;
    try {
        code = body(text);
    } catch (const std::exception& error) {
        text = error.what();
    }
    [[maybe_unused]] const ssize_t written = ::write(output, text.data(), text.size());
    ::_exit(code);
}

}  // namespace

ChildResult RunInChild(const std::function<int(std::string& text)>& body, bool asNobody,
                       unsigned timeoutSeconds) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ChildMain(body, asNobody, timeoutSeconds, fds[1]);
    }
    ::close(fds[1]);
    ChildResult result;
    char chunk[512];
    ssize_t n = 0;
    while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0) {
        result.text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

int StartChildUntilReady(const ChildBody& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(60);
        const std::function<void()> ready = [&] {
            [[maybe_unused]] const ssize_t written = ::write(fds[1], "r", 1);
            for (;;) {
                ::pause();
            }
        };
        body(ready);
        ::_exit(3);
    }
    ::close(fds[1]);
    char signal = 0;
    const bool becameReady = ::read(fds[0], &signal, 1) == 1;
    ::close(fds[0]);
    if (!becameReady) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return pid;
}

int StartChild(const std::function<void()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        body();
        ::_exit(0);
    }
    return pid;
}

bool KillChild(int pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool RunAndKillWhenReady(const ChildBody& body) {
    const int pid = StartChildUntilReady(body);
    return pid > 0 && KillChild(pid);
}

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::string FailureSummary(const FileFailure& failure) {
    if (failure.problem == Problem::System) {
        return Utf16ToUtf8(failure.description);
    }
    std::string text = "problem " + std::to_string(static_cast<int>(failure.problem));
    if (failure.problem == Problem::NotRegularFile) {
        text += " type " + std::to_string(static_cast<int>(failure.type));
    }
    return text;
}

int OutcomeCode(const FileOutcome& outcome, std::string& text) {
    if (outcome.failure) {
        text = FailureSummary(*outcome.failure);
    }
    switch (outcome.kind) {
        case FileOutcome::Kind::Done:
            return kDoneCode;
        case FileOutcome::Kind::Failed:
            return kFailedCode;
        case FileOutcome::Kind::Stopped:
            return kStoppedCode;
    }
    return 99;
}

}  // namespace kestrove::testing
