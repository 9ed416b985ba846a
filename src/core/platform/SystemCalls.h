#pragma once

// Internal to kestrove_core: every call the file layer makes to the system goes through one
// place, by kind, so that a test can fail any single one of them (the N-th call of a run, with an
// error of its choosing) and see that no file is lost or half-written, whichever call it was.

#include <atomic>
#include <cstdint>

namespace kestrove::platform {

enum class SystemCall : std::uint8_t {
    Open,        // open a file or folder
    Inspect,     // what a path or an open file is: stat and its kin
    Read,        // file content
    Write,       // file content
    Flush,       // make content or a folder's entries durable
    Rename,      // a name to another name, with or without replacing
    Remove,      // a name removed
    Lock,        // the hold on one of our temporary files
    List,        // a folder's entries
    Owner,       // a file's owner and access list
    Mode,        // permission bits, attributes, times
    Attributes,  // extended attributes on Linux, alternate data streams on Windows
    Resolve,     // links followed to the real path
    Control,     // descriptor flags and sizes
};

inline constexpr int kSystemCallKinds = static_cast<int>(SystemCall::Control) + 1;

// Decides, before each call, whether it fails: an error number (errno on POSIX, a Windows error
// code on Windows) to fail it with instead of making it, or 0 to make it. May be asked from
// several threads at once.
class CallFaults {
  public:
    virtual ~CallFaults() = default;
    [[nodiscard]] virtual int Before(SystemCall call) = 0;
};

namespace detail {
inline std::atomic<CallFaults*> g_callFaults{nullptr};
}  // namespace detail

// For tests: faults to inject from now on, or null for none. The caller keeps faults alive until
// it is replaced.
inline void SetCallFaults(CallFaults* faults) {
    detail::g_callFaults.store(faults, std::memory_order_release);
}

// The error the next call of this kind must fail with, or 0.
[[nodiscard]] inline int InjectedFault(SystemCall call) {
    CallFaults* faults = detail::g_callFaults.load(std::memory_order_acquire);
    return faults != nullptr ? faults->Before(call) : 0;
}

}  // namespace kestrove::platform
