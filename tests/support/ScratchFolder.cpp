#include "ScratchFolder.h"

#include <random>
#include <stdexcept>

namespace kestrove::testing {

ScratchFolder::ScratchFolder(const std::filesystem::path& base) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = base / ("kestrove-test-" + std::to_string(random()));
        // Only this process made it if it did not exist before.
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(m_path);
}

}  // namespace kestrove::testing
