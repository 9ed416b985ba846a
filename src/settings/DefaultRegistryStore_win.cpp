// The settings store on Windows: the registry itself.
#include "RegistryStore.h"
#include "WinRegistryStore.h"

namespace kestrove {

std::shared_ptr<RegistryStore> DefaultRegistryStore() {
    return std::make_shared<WinRegistryStore>();
}

}  // namespace kestrove
