#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace kestrove::testing {

// Sets an environment variable (or removes it, for nullptr) for one test and puts the old
// value back afterwards.
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, const char* value) : m_name(name) {
        if (const char* old = ::getenv(name)) {
            m_old = old;
        }
        Set(value);
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    ~EnvironmentOverride() { Set(m_old ? m_old->c_str() : nullptr); }

  private:
    void Set(const char* value) {
        if (value != nullptr) {
            ::setenv(m_name, value, 1);
        } else {
            ::unsetenv(m_name);
        }
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

}  // namespace kestrove::testing
