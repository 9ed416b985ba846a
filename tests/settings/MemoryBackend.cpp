// The settings class cases over the in-memory store that the window tests use, so that it behaves
// as the real stores do.
#include "ClsQvnRegSuite.h"
#include "MemoryRegistryStore.h"

namespace kestrove::testing {
namespace {

StoreBackend MemoryBackend() {
    return {"Memory",
            [](const std::filesystem::path&) -> std::shared_ptr<RegistryStore> {
                return std::make_shared<MemoryRegistryStore>();
            },
            {},
            {}};
}

INSTANTIATE_TEST_SUITE_P(MemoryStore, ClsQvnRegSuite, ::testing::Values(MemoryBackend()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestrove::testing
