#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clsQvnReg.h"

namespace kestrove {

// Where the password digest lives in the settings store.
inline constexpr char16_t kDigestRoot[] = u"HKEY_CURRENT_USER";
inline constexpr char16_t kDigestPath[] = u"Software\\Brannoc\\Kestrove";
inline constexpr char16_t kDigestValue[] = u"Key";

// The state of one run, created at start and passed by reference to whoever needs it.
class RunState {
  public:
    using SettingsFactory = std::function<std::unique_ptr<clsQvnReg>()>;

    // The factory makes the settings object on first need; by default over the platform store.
    explicit RunState(SettingsFactory factory = {});

    std::u16string StoredDigest;  // the digest found at start; empty when none
    bool FirstUse = false;        // true exactly when StoredDigest is empty
    std::int32_t CipherKey = 0;   // 10..165 after a successful login, 0 before

    // The run's one settings object, created on first use.
    clsQvnReg& SettingsReg();
    [[nodiscard]] bool HasSettingsReg() const { return m_settings != nullptr; }

  private:
    SettingsFactory m_factory;
    std::unique_ptr<clsQvnReg> m_settings;
};

// The start-up steps before the login window: read the stored digest and set StoredDigest and
// FirstUse. A store that cannot be read counts as no password set.
void LoadStoredDigest(RunState& state);

// On first use, the digest of the new password goes where LoadStoredDigest reads it. The store
// reports nothing: a write that fails leaves no password set, and the next start asks again.
void SaveNewDigest(RunState& state, const std::u16string& digest);

}  // namespace kestrove
