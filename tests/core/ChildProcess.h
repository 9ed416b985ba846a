#pragma once

// Child processes for the POSIX tests: to give up root, to be killed part-way, to set limits that
// must not reach the test runner itself.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "FileTransform.h"

namespace kestrove::testing {

// What a child process reported: its exit code (or the signal that ended it) and a text.
struct ChildResult {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    std::string text;
};

// Runs body in a forked child, which dies after timeoutSeconds at the latest. body returns the exit
// code and may fill text. With asNobody, a child of root first becomes uid/gid 65534, so that
// permission checks apply to it.
[[nodiscard]] ChildResult RunInChild(const std::function<int(std::string& text)>& body,
                                     bool asNobody = false, unsigned timeoutSeconds = 60);

using ChildBody = std::function<void(const std::function<void()>& ready)>;

// Runs body in a forked child and returns the child's process id as soon as the child calls the
// ready it is given (ready never returns); -1, once the child has ended, when it ends first.
[[nodiscard]] int StartChildUntilReady(const ChildBody& body);

// Runs body in a forked child and returns the child's process id at once.
[[nodiscard]] int StartChild(const std::function<void()>& body);

// Ends a child with SIGKILL and waits for it; true when that signal ended it.
bool KillChild(int pid);

// StartChildUntilReady, then KillChild. True when the child was killed that way.
[[nodiscard]] bool RunAndKillWhenReady(const ChildBody& body);

// How many descriptors this process has open.
[[nodiscard]] std::size_t OpenDescriptorCount();

// A failure as text: the system's words, or which kind of problem it is.
[[nodiscard]] std::string FailureSummary(const FileFailure& failure);

// FileOutcome as an exit code for RunInChild, with the failure's summary in text.
[[nodiscard]] int OutcomeCode(const FileOutcome& outcome, std::string& text);
inline constexpr int kDoneCode = 0;
inline constexpr int kFailedCode = 1;
inline constexpr int kStoppedCode = 2;

inline constexpr std::uint32_t kNobody = 65534;

}  // namespace kestrove::testing
