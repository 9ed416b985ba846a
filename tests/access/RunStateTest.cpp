// Start-up: reading the stored digest into the run state, and the run's one settings object.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "EnvironmentOverride.h"
#include "FileChars.h"
#include "Password.h"
#include "RunState.h"
#include "ScratchFolder.h"
#include "SqliteRegistryStore.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

class StartUp : public ::testing::Test {
  protected:
    [[nodiscard]] fs::path File() const { return m_dir.path() / "Kestrove" / "registry.db"; }

    // A run whose settings object works on this test's own file and counts how often it is made.
    RunState MakeRun() {
        return RunState([this] {
            ++m_made;
            return std::make_unique<clsQvnReg>(std::make_shared<SqliteRegistryStore>(File()));
        });
    }

    // What a previous run or another program left in the file.
    clsQvnReg Earlier() { return clsQvnReg(std::make_shared<SqliteRegistryStore>(File())); }

    RunState StartWith() {
        RunState run = MakeRun();
        LoadStoredDigest(run);
        return run;
    }

    ScratchFolder m_dir;
    int m_made = 0;
};

TEST_F(StartUp, BeforeMainNothingIsSetAndNoSettingsObjectExists) {
    const RunState run = MakeRun();
    EXPECT_EQ(run.StoredDigest, u"");
    EXPECT_FALSE(run.FirstUse);
    EXPECT_EQ(run.CipherKey, 0);
    EXPECT_FALSE(run.HasSettingsReg());
    EXPECT_EQ(m_made, 0);
}

TEST_F(StartUp, TheSettingsObjectIsMadeOnceOnFirstNeed) {
    RunState run = MakeRun();
    LoadStoredDigest(run);
    EXPECT_EQ(m_made, 1);
    EXPECT_TRUE(run.HasSettingsReg());
    clsQvnReg* first = &run.SettingsReg();
    EXPECT_EQ(&run.SettingsReg(), first);
    LoadStoredDigest(run);
    EXPECT_EQ(m_made, 1);
}

// What the first use saves is what the next start reads, in the very place the design names.
TEST_F(StartUp, TheDigestSavedOnFirstUseIsTheOneReadAtTheNextStart) {
    RunState first = StartWith();
    ASSERT_TRUE(first.FirstUse);
    SaveNewDigest(first, DigestOfPassword(u"secret").text);
    EXPECT_EQ(Earlier().GetString(kDigestRoot, kDigestPath, kDigestValue),
              DigestOfPassword(u"secret").text);
    const RunState next = StartWith();
    EXPECT_FALSE(next.FirstUse);
    EXPECT_EQ(next.StoredDigest, DigestOfPassword(u"secret").text);
}

TEST_F(StartUp, AStoredDigestIsReadAsItsText) {
    Earlier().SaveString(kDigestRoot, kDigestPath, kDigestValue,
                         DigestOfPassword(u"password").text);
    const RunState run = StartWith();
    EXPECT_EQ(run.StoredDigest, u"1887");
    EXPECT_FALSE(run.FirstUse);
    EXPECT_EQ(run.CipherKey, 0);
}

TEST_F(StartUp, NothingReadableMeansFirstUse) {
    const RunState nothing = StartWith();
    EXPECT_TRUE(nothing.FirstUse);
    EXPECT_EQ(nothing.StoredDigest, u"");
    EXPECT_FALSE(fs::exists(File()));  // looking does not make the store

    Earlier().CreatKey(kDigestRoot, kDigestPath);
    Earlier().SaveString(kDigestRoot, kDigestPath, u"Other", u"406");
    EXPECT_TRUE(StartWith().FirstUse) << "key without the value";

    Earlier().SaveString(kDigestRoot, kDigestPath, kDigestValue, u"");
    EXPECT_TRUE(StartWith().FirstUse) << "empty string";

    Earlier().SaveDWord(kDigestRoot, kDigestPath, kDigestValue, 406);
    EXPECT_TRUE(StartWith().FirstUse) << "number";

    Earlier().DeleteValue(kDigestRoot, kDigestPath, kDigestValue);
    Earlier().SaveString(u"HKEY_LOCAL_MACHINE", kDigestPath, kDigestValue, u"406");
    EXPECT_TRUE(StartWith().FirstUse) << "another root";
}

TEST_F(StartUp, TheDigestIsKeptAsTextUpToItsTerminator) {
    auto store = std::make_shared<SqliteRegistryStore>(File());
    const auto key = store->CreateKey(RegistryRoot::CurrentUser, kDigestPath);
    store->SetValue(key, kDigestValue, RegistryValue{kRegSz, {'4', 0, '0', 0, '6', 0, 0, 0}});
    store->CloseKey(key);
    EXPECT_EQ(StartWith().StoredDigest, DigestOfPassword(u"abc").text);

    // A leading zero or a trailing blank is kept, so it never equals a digest.
    for (const std::u16string stored : {u"0406", u"406 "}) {
        Earlier().SaveString(kDigestRoot, kDigestPath, kDigestValue, stored);
        const RunState run = StartWith();
        EXPECT_EQ(run.StoredDigest, stored);
        EXPECT_FALSE(run.FirstUse);
        EXPECT_NE(run.StoredDigest, DigestOfPassword(u"abc").text);
    }
}

TEST_F(StartUp, ADamagedStoreMeansFirstUseAndIsLeftAsItWas) {
    fs::create_directories(File().parent_path());
    const std::vector<char> garbage(3000, '\x5A');
    WriteBytes(File(), garbage);
    EXPECT_TRUE(StartWith().FirstUse);
    EXPECT_EQ(ReadBytes(File()), garbage);

    fs::remove(File());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE settings(k TEXT, v TEXT)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const auto before = ReadBytes(File());
    EXPECT_TRUE(StartWith().FirstUse);
    EXPECT_EQ(ReadBytes(File()), before);
}

TEST(RunState, ASettingsObjectThatCannotBeMadeIsAnError) {
    RunState run([] { return std::unique_ptr<clsQvnReg>(); });
    EXPECT_THROW((void)run.SettingsReg(), std::runtime_error);
    EXPECT_THROW(LoadStoredDigest(run), std::runtime_error);
    EXPECT_FALSE(run.HasSettingsReg());
}

TEST(RunState, ByDefaultTheSettingsLiveInTheUsersConfigurationFolder) {
    ScratchFolder dir;
    testing::EnvironmentOverride xdg("XDG_CONFIG_HOME", dir.path().c_str());
    RunState first;
    LoadStoredDigest(first);
    EXPECT_TRUE(first.FirstUse);
    first.SettingsReg().SaveString(kDigestRoot, kDigestPath, kDigestValue, u"1887");
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "Kestrove" / "registry.db"));

    RunState next;
    LoadStoredDigest(next);
    EXPECT_FALSE(next.FirstUse);
    EXPECT_EQ(next.StoredDigest, u"1887");
}

}  // namespace
}  // namespace kestrove
