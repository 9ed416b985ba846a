#include "RunState.h"

#include <stdexcept>
#include <utility>

namespace kestrove {

RunState::RunState(SettingsFactory factory) : m_factory(std::move(factory)) {
    if (!m_factory) {
        m_factory = [] { return std::make_unique<clsQvnReg>(); };
    }
}

clsQvnReg& RunState::SettingsReg() {
    if (!m_settings) {
        m_settings = m_factory();
        // Start-up cannot go on without its settings object; the error ends the program.
        if (!m_settings) {
            throw std::runtime_error("the settings object could not be created");
        }
    }
    return *m_settings;
}

void LoadStoredDigest(RunState& state) {
    clsQvnReg& settings = state.SettingsReg();
    // Nothing readable (no key, no value, another type, a damaged store) and an empty value all
    // mean no password has been set.
    state.StoredDigest =
        settings.GetString(kDigestRoot, kDigestPath, kDigestValue).value_or(std::u16string());
    state.FirstUse = state.StoredDigest.empty();
}

void SaveNewDigest(RunState& state, const std::u16string& digest) {
    state.SettingsReg().SaveString(kDigestRoot, kDigestPath, kDigestValue, digest);
}

}  // namespace kestrove
