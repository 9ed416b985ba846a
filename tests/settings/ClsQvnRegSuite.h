#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "FileChars.h"
#include "RecordingStore.h"
#include "RegistryStore.h"
#include "ScratchFolder.h"
#include "clsQvnReg.h"

namespace kestrove::testing {

// One store implementation the settings class is checked against. Every backend runs the same
// cases, so that what the class does cannot drift between platforms.
struct StoreBackend {
    std::string name;
    // A store whose contents the test may change freely; scratch is an empty folder of the test.
    std::function<std::shared_ptr<RegistryStore>(const std::filesystem::path& scratch)> make;
    // Where below HKEY_CURRENT_USER a case may write, given the case's scratch folder: empty (or
    // no function) for a private store; for a store shared with the rest of the system, a
    // throwaway key of the case's own, so that cases running side by side never meet.
    std::function<std::u16string(const std::filesystem::path& scratch)> base;
    // Removes the case's base key with everything below it; may be empty.
    std::function<void(RegistryStore&, const std::u16string& base)> cleanup;
};

inline void PrintTo(const StoreBackend& backend, std::ostream* out) {
    *out << backend.name;
}

inline constexpr char16_t kHkcu[] = u"HKEY_CURRENT_USER";

class ClsQvnRegSuite : public ::testing::TestWithParam<StoreBackend> {
  protected:
    void SetUp() override {
        if (GetParam().base) {
            m_base = GetParam().base(m_scratch.path());
        }
        m_store = GetParam().make(m_scratch.path());
        ASSERT_NE(m_store, nullptr);
        m_reg = std::make_unique<clsQvnReg>(m_store);
    }

    void TearDown() override {
        // Whatever a case did, the class must not leave a key open.
        EXPECT_EQ(m_store->OpenKeyCount(), 0u);
        if (m_recording) {
            EXPECT_EQ(m_recording->OpenKeyCount(), 0u);
            EXPECT_EQ(m_recording->badCloses, 0);
        }
        if (GetParam().cleanup) {
            GetParam().cleanup(*m_store, m_base);
        }
    }

    // A key path below the backend's base.
    [[nodiscard]] std::u16string P(const std::u16string& relative) const {
        return m_base.empty() ? relative : m_base + u"\\" + relative;
    }

    clsQvnReg& reg() { return *m_reg; }
    // A second settings object over the same store that notes every primitive it calls.
    clsQvnReg& recorded() {
        if (!m_recording) {
            m_recording = std::make_shared<RecordingStore>(m_store);
            m_recorded = std::make_unique<clsQvnReg>(m_recording);
        }
        return *m_recorded;
    }
    [[nodiscard]] const std::vector<std::string>& calls() {
        (void)recorded();
        return m_recording->calls;
    }
    RegistryStore& store() { return *m_store; }
    [[nodiscard]] const std::filesystem::path& scratch() const { return m_scratch.path(); }

    // Data written straight through the store, as another program could have left it.
    void WriteRaw(const std::u16string& path, const std::u16string& name, RegistryValue value) {
        const auto key = store().CreateKey(RegistryRoot::CurrentUser, path);
        ASSERT_NE(key, 0u);
        store().SetValue(key, name, value);
        store().CloseKey(key);
    }

    std::optional<RegistryValue> ReadRaw(const std::u16string& path, const std::u16string& name) {
        const auto key = store().OpenKey(RegistryRoot::CurrentUser, path);
        if (key == 0) {
            return std::nullopt;
        }
        auto value = store().QueryValue(key, name);
        store().CloseKey(key);
        return value;
    }

    bool KeyExists(const std::u16string& path, RegistryRoot root = RegistryRoot::CurrentUser) {
        const auto key = store().OpenKey(root, path);
        if (key != 0) {
            store().CloseKey(key);
        }
        return key != 0;
    }

  private:
    ScratchFolder m_scratch;
    std::u16string m_base;
    std::shared_ptr<RegistryStore> m_store;
    std::unique_ptr<clsQvnReg> m_reg;
    std::shared_ptr<RecordingStore> m_recording;
    std::unique_ptr<clsQvnReg> m_recorded;
};

}  // namespace kestrove::testing
