#include <stdexcept>

#include "ChildProcess.h"
#include "StalledTransform.h"

namespace kestrove::testing {

StalledTransform::StalledTransform(const std::filesystem::path& file, detail::WriteStage stage,
                                   std::uint64_t offset, std::size_t blockSize) {
    m_process = StartChildUntilReady([&](const std::function<void()>& ready) {
        detail::TransformSettings settings;
        settings.blockSize = blockSize;
        settings.beforeWrite = [&](detail::WriteStage now, std::uint64_t at) -> platform::IoStatus {
            if (now == stage && at == offset) {
                ready();
            }
            return std::nullopt;
        };
        (void)detail::TransformFileWith(file, Direction::Encrypt, kStalledKey, {}, settings);
    });
    if (m_process <= 0) {
        m_process = 0;
        throw std::runtime_error("the transform ended before it got to the point to stop at");
    }
}

StalledTransform::~StalledTransform() {
    Kill();
}

void StalledTransform::Kill() {
    if (m_process > 0) {
        KillChild(static_cast<int>(m_process));
        m_process = 0;
    }
}

}  // namespace kestrove::testing
