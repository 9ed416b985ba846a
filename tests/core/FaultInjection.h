#pragma once

// Failing one system call of a run at a time: the run is made once to count its calls, then once
// for every call (or a sample of them), with that call failing.

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "SystemCalls.h"

namespace kestrove::testing {

// An error to inject: the platform's number, and a name for messages. A crash fails the call and
// every call after it, as if the process had died there; the program's clean-up then finds the
// system refusing everything, and the next run meets what is left.
struct InjectedError {
    int code = 0;
    std::string name;
    bool crash = false;
    bool interrupt = false;  // an interrupted call: it must be retried, never seen
};

inline void PrintTo(const InjectedError& error, std::ostream* out) {
    *out << error.name;
}

// The errors the tests inject on this platform: an I/O error, a full disk, access denied and,
// where calls can be interrupted, an interrupted call; and a crash.
[[nodiscard]] std::vector<InjectedError> ErrorsToInject();

// Counts the calls of a run, and fails the one numbered failAt (from 1), or every call from there
// on for a crash. failAt 0 fails none.
class CallCounter final : public platform::CallFaults {
  public:
    explicit CallCounter(std::uint64_t failAt = 0, InjectedError error = {});
    int Before(platform::SystemCall call) override;

    [[nodiscard]] std::uint64_t count() const { return m_count; }
    // The kind of each call, in order (when counting only).
    [[nodiscard]] const std::vector<platform::SystemCall>& kinds() const { return m_kinds; }
    [[nodiscard]] bool failed() const { return m_failed; }

  private:
    std::atomic<std::uint64_t> m_count{0};
    std::uint64_t m_failAt;
    InjectedError m_error;
    std::vector<platform::SystemCall> m_kinds;
    std::atomic<bool> m_failed{false};
};

// Installs faults for its lifetime.
class FaultsInPlace {
  public:
    explicit FaultsInPlace(platform::CallFaults& faults) { platform::SetCallFaults(&faults); }
    ~FaultsInPlace() { platform::SetCallFaults(nullptr); }
    FaultsInPlace(const FaultsInPlace&) = delete;
    FaultsInPlace& operator=(const FaultsInPlace&) = delete;
};

// Which calls of a run of these kinds to fail: all of them when there are at most `most`, else
// the first and the last of each kind and evenly spread ones between, `most` in all or a few more.
[[nodiscard]] std::vector<std::uint64_t> CallsToFail(const std::vector<platform::SystemCall>& kinds,
                                                     std::size_t most);

[[nodiscard]] const char* NameOf(platform::SystemCall call);

}  // namespace kestrove::testing
