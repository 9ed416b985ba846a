// The settings class cases over the SQLite store, each case with a database of its own.
#include "ClsQvnRegSuite.h"
#include "SqliteRegistryStore.h"

namespace kestrove::testing {
namespace {

StoreBackend SqliteBackend() {
    return {"Sqlite",
            [](const std::filesystem::path& scratch) -> std::shared_ptr<RegistryStore> {
                return std::make_shared<SqliteRegistryStore>(scratch / "config" / "Kestrove" /
                                                             "registry.db");
            },
            {},
            {}};
}

INSTANTIATE_TEST_SUITE_P(Store, ClsQvnRegSuite, ::testing::Values(SqliteBackend()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestrove::testing
