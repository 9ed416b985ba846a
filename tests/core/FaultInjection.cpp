#include "FaultInjection.h"

#include <algorithm>
#include <set>

namespace kestrove::testing {

CallCounter::CallCounter(std::uint64_t failAt, InjectedError error)
    : m_failAt(failAt), m_error(std::move(error)) {}

int CallCounter::Before(platform::SystemCall call) {
    const std::uint64_t at = ++m_count;
    if (m_failAt == 0) {
        m_kinds.push_back(call);  // counting runs are made on one thread
        return 0;
    }
    if (at == m_failAt || (m_error.crash && at > m_failAt)) {
        m_failed = true;
        return m_error.code;
    }
    return 0;
}

std::vector<std::uint64_t> CallsToFail(const std::vector<platform::SystemCall>& kinds,
                                       std::size_t most) {
    std::set<std::uint64_t> chosen;
    if (kinds.size() <= most) {
        for (std::uint64_t n = 1; n <= kinds.size(); ++n) {
            chosen.insert(n);
        }
    } else {
        for (int kind = 0; kind < platform::kSystemCallKinds; ++kind) {
            const auto is = [kind](platform::SystemCall call) {
                return static_cast<int>(call) == kind;
            };
            const auto first = std::find_if(kinds.begin(), kinds.end(), is);
            if (first == kinds.end()) {
                continue;
            }
            const auto last = std::find_if(kinds.rbegin(), kinds.rend(), is);
            chosen.insert(static_cast<std::uint64_t>(first - kinds.begin()) + 1);
            chosen.insert(static_cast<std::uint64_t>(kinds.rend() - last));
        }
        for (std::size_t i = 0; i < most; ++i) {
            chosen.insert(1 + i * kinds.size() / most);
        }
    }
    return {chosen.begin(), chosen.end()};
}

const char* NameOf(platform::SystemCall call) {
    switch (call) {
        case platform::SystemCall::Open:
            return "open";
        case platform::SystemCall::Inspect:
            return "inspect";
        case platform::SystemCall::Read:
            return "read";
        case platform::SystemCall::Write:
            return "write";
        case platform::SystemCall::Flush:
            return "flush";
        case platform::SystemCall::Rename:
            return "rename";
        case platform::SystemCall::Remove:
            return "remove";
        case platform::SystemCall::Lock:
            return "lock";
        case platform::SystemCall::List:
            return "list";
        case platform::SystemCall::Owner:
            return "owner";
        case platform::SystemCall::Mode:
            return "mode";
        case platform::SystemCall::Attributes:
            return "attributes";
        case platform::SystemCall::Resolve:
            return "resolve";
        case platform::SystemCall::Control:
            return "control";
    }
    return "?";
}

}  // namespace kestrove::testing
