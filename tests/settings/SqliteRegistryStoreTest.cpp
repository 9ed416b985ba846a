// What only the SQLite store promises: where its file lives and when it is made, that foreign or
// damaged files are left alone, that each write is all or nothing, and handles of deleted keys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "EnvironmentOverride.h"
#include "FileChars.h"
#include "ScratchFolder.h"
#include "SqliteRegistryStore.h"
#include "clsQvnReg.h"

namespace kestrove::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr char16_t kHkcu[] = u"HKEY_CURRENT_USER";
const std::u16string kPath = u"Software\\Brannoc\\Kestrove";

// Another program's connection to the same file.
class Connection {
  public:
    explicit Connection(const fs::path& file) { sqlite3_open(file.c_str(), &m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { sqlite3_close(m_db); }

    bool Run(const std::string& sql) {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    std::vector<std::string> Column(const std::string& sql) {
        std::vector<std::string> rows;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement, 0);
            rows.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        sqlite3_finalize(statement);
        return rows;
    }

  private:
    sqlite3* m_db = nullptr;
};

class SqliteStore : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(m_store->OpenKeyCount(), 0u); }

    [[nodiscard]] fs::path File() const {
        return m_dir.path() / "config" / "Kestrove" / "registry.db";
    }

    // Every operation of the class once, with the values a user would write.
    void TryEveryOperation(clsQvnReg& reg) {
        reg.CreatKey(kHkcu, u"Other");
        reg.SaveString(kHkcu, kPath, u"Key", u"1887");
        reg.SaveDWord(kHkcu, kPath, u"Number", 5);
        reg.DeleteValue(kHkcu, kPath, u"Key");
        reg.DeleteKey(kHkcu, kPath);
        EXPECT_EQ(reg.GetString(kHkcu, kPath, u"Key"), std::nullopt);
        EXPECT_EQ(reg.GetDWord(kHkcu, kPath, u"Number"), 0);
    }

    bool KeyExists(const std::u16string& path) {
        const auto key = m_store->OpenKey(RegistryRoot::CurrentUser, path);
        if (key != 0) {
            m_store->CloseKey(key);
        }
        return key != 0;
    }

    ScratchFolder m_dir;
    std::shared_ptr<SqliteRegistryStore> m_store =
        std::make_shared<SqliteRegistryStore>(File(), 200ms);
    clsQvnReg m_reg{m_store};
};

TEST_F(SqliteStore, ReadsMakeNeitherTheFolderNorTheFile) {
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"Key"), std::nullopt);
    EXPECT_EQ(m_reg.GetDWord(kHkcu, kPath, u"Key"), 0);
    m_reg.DeleteValue(kHkcu, kPath, u"Key");
    m_reg.DeleteKey(kHkcu, kPath);
    EXPECT_FALSE(KeyExists(u"Software"));
    // The root itself always opens, file or not.
    const auto root = m_store->OpenKey(RegistryRoot::CurrentUser, u"");
    EXPECT_NE(root, 0u);
    EXPECT_EQ(m_store->QueryValue(root, u"Key"), std::nullopt);
    m_store->CloseKey(root);
    EXPECT_FALSE(fs::exists(m_dir.path() / "config"));

    // Nor the file when its folder is already there.
    fs::create_directories(File().parent_path());
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"Key"), std::nullopt);
    EXPECT_EQ(m_reg.GetDWord(kHkcu, kPath, u"Key"), 0);
    m_reg.DeleteValue(kHkcu, kPath, u"Key");
    m_reg.DeleteKey(kHkcu, kPath);
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(SqliteStore, FirstWriteMakesAPrivateFileThatLaterStoresRead) {
    m_reg.SaveString(kHkcu, kPath, u"Key", u"1887");
    m_reg.SaveDWord(kHkcu, kPath, u"Number", -7);
    ASSERT_TRUE(fs::is_regular_file(File()));
    EXPECT_EQ(fs::status(File()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    clsQvnReg later(std::make_shared<SqliteRegistryStore>(File()));
    EXPECT_EQ(later.GetString(kHkcu, kPath, u"Key"), u"1887");
    EXPECT_EQ(later.GetDWord(kHkcu, kPath, u"Number"), -7);
    EXPECT_EQ(later.GetString(kHkcu, kPath, u"Number"), std::nullopt);
    EXPECT_FALSE(fs::exists(File().string() + "-journal"));
}

TEST_F(SqliteStore, TheFourRootsAreSeparateTrees) {
    const std::u16string roots[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                    u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};
    for (const auto& root : roots) {
        m_reg.SaveString(root, kPath, u"Key", root);
        m_reg.SaveString(root, u"", u"Top", root);
    }
    m_reg.DeleteKey(u"HKEY_LOCAL_MACHINE", kPath);
    for (const auto& root : roots) {
        const bool deleted = root == u"HKEY_LOCAL_MACHINE";
        EXPECT_EQ(m_reg.GetString(root, kPath, u"Key"),
                  deleted ? std::nullopt : std::optional<std::u16string>(root));
        EXPECT_EQ(m_reg.GetString(root, u"", u"Top"), root);
    }
}

TEST_F(SqliteStore, ARootHoldsValuesButCannotBeDeleted) {
    m_reg.SaveString(kHkcu, u"", u"Top", u"1");
    m_reg.DeleteKey(kHkcu, u"");
    EXPECT_EQ(m_reg.GetString(kHkcu, u"", u"Top"), u"1");
}

TEST_F(SqliteStore, PathsWithAnEmptyLevelAreRefused) {
    for (const std::u16string bad : {u"\\A", u"A\\\\B", u"A\\", u"\\"}) {
        m_reg.SaveString(kHkcu, bad, u"V", u"1");
        m_reg.CreatKey(kHkcu, bad);
        EXPECT_EQ(m_store->CreateKey(RegistryRoot::CurrentUser, bad), 0u);
    }
    EXPECT_FALSE(fs::exists(File()));
    m_reg.SaveString(kHkcu, u"A\\B", u"V", u"1");
    EXPECT_EQ(m_reg.GetString(kHkcu, u"A\\\\B", u"V"), std::nullopt);
    EXPECT_EQ(m_reg.GetString(kHkcu, u"A\\B\\", u"V"), std::nullopt);
}

TEST_F(SqliteStore, OnlyAsciiLettersFoldAndEveryCodeUnitCounts) {
    m_reg.SaveString(kHkcu, kPath, u"É", u"upper");
    m_reg.SaveString(kHkcu, kPath, u"é", u"lower");
    m_reg.SaveString(kHkcu, kPath, std::u16string(1, u'\xD800'), u"first");
    m_reg.SaveString(kHkcu, kPath, std::u16string(1, u'\xD801'), u"second");
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"É"), u"upper");
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"é"), u"lower");
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, std::u16string(1, u'\xD800')), u"first");
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, std::u16string(1, u'\xD801')), u"second");
    m_reg.CreatKey(kHkcu, u"Ä");
    EXPECT_FALSE(KeyExists(u"ä"));
}

TEST_F(SqliteStore, KeyNamesKeepTheCaseTheyWereCreatedWith) {
    m_reg.SaveString(kHkcu, kPath, u"Key", u"1");
    m_reg.SaveString(kHkcu, u"SOFTWARE\\BRANNOC\\KESTROVE\\Sub", u"Key", u"2");
    Connection other(File());
    EXPECT_THAT(other.Column("SELECT name FROM reg_keys WHERE id > 4 ORDER BY id"),
                ElementsAre("Software", "Brannoc", "Kestrove", "Sub"));
}

TEST_F(SqliteStore, ADamagedFileIsNeitherReadNorChanged) {
    fs::create_directories(File().parent_path());
    std::vector<char> garbage(4096);
    std::uint32_t state = 12345;
    for (char& byte : garbage) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    WriteBytes(File(), garbage);

    TryEveryOperation(m_reg);
    EXPECT_EQ(ReadBytes(File()), garbage);
    EXPECT_FALSE(fs::exists(File().string() + "-journal"));
}

TEST_F(SqliteStore, AnotherProgramsDatabaseIsNeitherReadNorChanged) {
    const char* const foreign[] = {
        "CREATE TABLE notes(body TEXT); INSERT INTO notes VALUES('mine');",
        // Our table names without our mark are still somebody else's.
        "CREATE TABLE reg_keys(id INTEGER PRIMARY KEY, parent INTEGER, name TEXT, fold BLOB);"
        "CREATE TABLE reg_values(key INTEGER, name TEXT, fold BLOB, type INTEGER, data BLOB);",
    };
    fs::create_directories(File().parent_path());
    for (const char* sql : foreign) {
        fs::remove(File());
        ASSERT_TRUE(Connection(File()).Run(sql)) << sql;
        const auto before = ReadBytes(File());
        TryEveryOperation(m_reg);
        EXPECT_EQ(ReadBytes(File()), before) << sql;
    }
}

TEST_F(SqliteStore, AFileFromANewerVersionIsLeftAlone) {
    m_reg.SaveString(kHkcu, kPath, u"Key", u"1887");
    ASSERT_TRUE(Connection(File()).Run("PRAGMA user_version = 2"));
    const auto before = ReadBytes(File());
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"Key"), std::nullopt);
    TryEveryOperation(m_reg);
    EXPECT_EQ(ReadBytes(File()), before);
}

TEST_F(SqliteStore, AnEmptyFileBecomesTheStore) {
    fs::create_directories(File().parent_path());
    WriteBytes(File(), {});
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"Key"), std::nullopt);
    m_reg.SaveString(kHkcu, kPath, u"Key", u"406");
    EXPECT_EQ(m_reg.GetString(kHkcu, kPath, u"Key"), u"406");
}

TEST_F(SqliteStore, AWriteThatFailsHalfwayLeavesNothingOfItself) {
    m_reg.SaveString(kHkcu, u"A", u"V", u"old");
    // The file refuses the last level, after the levels above it went in.
    ASSERT_TRUE(
        Connection(File()).Run("CREATE TRIGGER refuse AFTER INSERT ON reg_keys WHEN NEW.name = 'C' "
                               "BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    m_reg.SaveString(kHkcu, u"A\\B\\C", u"V", u"new");
    EXPECT_FALSE(KeyExists(u"A\\B"));
    EXPECT_EQ(m_reg.GetString(kHkcu, u"A", u"V"), u"old");
}

TEST_F(SqliteStore, AWriteThatCannotGetTheFileChangesNothing) {
    m_reg.SaveString(kHkcu, u"A", u"V", u"old");
    {
        Connection holder(File());
        ASSERT_TRUE(holder.Run("BEGIN EXCLUSIVE"));
        m_reg.SaveString(kHkcu, u"A\\B\\C", u"V", u"new");
        m_reg.SaveString(kHkcu, u"A", u"V", u"new");
        m_reg.DeleteValue(kHkcu, u"A", u"V");
        EXPECT_EQ(m_reg.GetString(kHkcu, u"A", u"V"), std::nullopt);  // nor be read
        ASSERT_TRUE(holder.Run("COMMIT"));
    }
    EXPECT_FALSE(KeyExists(u"A\\B"));
    EXPECT_EQ(m_reg.GetString(kHkcu, u"A", u"V"), u"old");
}

TEST_F(SqliteStore, ABusyFileIsWaitedFor) {
    m_reg.SaveString(kHkcu, u"A", u"V", u"old");
    clsQvnReg patient(std::make_shared<SqliteRegistryStore>(File(), 20s));
    std::promise<void> locked;
    std::thread holder([&] {
        Connection other(File());
        const bool ok = other.Run("BEGIN EXCLUSIVE");
        locked.set_value();
        std::this_thread::sleep_for(300ms);
        if (ok) {
            (void)other.Run("COMMIT");
        }
    });
    locked.get_future().wait();
    patient.SaveString(kHkcu, u"A", u"V", u"new");
    holder.join();
    EXPECT_EQ(m_reg.GetString(kHkcu, u"A", u"V"), u"new");
}

TEST_F(SqliteStore, AHandleOfADeletedKeyReachesNothing) {
    const auto stale = m_store->CreateKey(RegistryRoot::CurrentUser, u"K");
    m_store->DeleteKey(RegistryRoot::CurrentUser, u"K");
    const auto fresh = m_store->CreateKey(RegistryRoot::CurrentUser, u"K");
    ASSERT_NE(fresh, 0u);
    m_store->SetValue(stale, u"V", RegistryValue{kRegSz, {'1', 0}});
    EXPECT_EQ(m_store->QueryValue(fresh, u"V"), std::nullopt);
    m_store->SetValue(fresh, u"V", RegistryValue{kRegSz, {'2', 0}});
    EXPECT_EQ(m_store->QueryValue(stale, u"V"), std::nullopt);
    EXPECT_EQ(m_reg.GetString(kHkcu, u"K", u"V"), u"2");
    m_store->CloseKey(stale);
    m_store->CloseKey(fresh);
    m_store->CloseKey(fresh);  // a second close is harmless
}

TEST_F(SqliteStore, AnUnusableLocationFailsQuietly) {
    const fs::path blocker = m_dir.path() / "blocker";
    WriteBytes(blocker, {'x'});
    clsQvnReg blocked(std::make_shared<SqliteRegistryStore>(blocker / "Kestrove" / "registry.db"));
    TryEveryOperation(blocked);
    clsQvnReg nowhere(std::make_shared<SqliteRegistryStore>(fs::path()));
    TryEveryOperation(nowhere);
    EXPECT_EQ(ReadBytes(blocker), std::vector<char>{'x'});
}

TEST(RegistryPath, FollowsAnAbsoluteXdgConfigHomeElseHome) {
    EXPECT_EQ(RegistryPathFromEnvironment("/x/cfg", "/home/u"),
              fs::path("/x/cfg/Kestrove/registry.db"));
    const fs::path underHome("/home/u/.config/Kestrove/registry.db");
    EXPECT_EQ(RegistryPathFromEnvironment(nullptr, "/home/u"), underHome);
    EXPECT_EQ(RegistryPathFromEnvironment("", "/home/u"), underHome);
    EXPECT_EQ(RegistryPathFromEnvironment("relative/cfg", "/home/u"), underHome);
    EXPECT_EQ(RegistryPathFromEnvironment(nullptr, nullptr), fs::path());
    EXPECT_EQ(RegistryPathFromEnvironment(nullptr, ""), fs::path());
    EXPECT_EQ(RegistryPathFromEnvironment("", "relative"), fs::path());
}

TEST(RegistryPath, TheDefaultStoreWritesWhereTheEnvironmentSays) {
    ScratchFolder dir;
    const fs::path config = dir.path() / "cfg";
    {
        EnvironmentOverride xdg("XDG_CONFIG_HOME", config.c_str());
        EXPECT_EQ(DefaultRegistryPath(), config / "Kestrove" / "registry.db");
        clsQvnReg reg;
        reg.SaveString(kHkcu, kPath, u"Key", u"406");
        EXPECT_TRUE(fs::is_regular_file(config / "Kestrove" / "registry.db"));
        EXPECT_EQ(clsQvnReg().GetString(kHkcu, kPath, u"Key"), u"406");
    }
    EnvironmentOverride xdg("XDG_CONFIG_HOME", nullptr);
    EnvironmentOverride home("HOME", dir.path().c_str());
    EXPECT_EQ(DefaultRegistryPath(), dir.path() / ".config" / "Kestrove" / "registry.db");
}

}  // namespace
}  // namespace kestrove::testing
