#include <utility>

#include "BatchedTransform.h"
#include "FileTransformDetail.h"

// The benchmarks' baseline: a run of files one after another, each flushed on its own.

namespace kestrove {

OneByOneTransform::OneByOneTransform(Direction direction, std::int32_t cipherKey,
                                     std::stop_token stop)
    : m_direction(direction), m_key(cipherKey), m_stop(std::move(stop)) {}

bool OneByOneTransform::Add(const std::filesystem::path& path, FileFinished finished) {
    if (m_ended) {
        return false;
    }
    detail::TransformSettings settings;
    settings.folderSyncs = &m_folderSyncs;
    settings.leftovers = &m_leftovers;
    const FileOutcome outcome =
        detail::TransformFileWith(path, m_direction, m_key, m_stop, settings);
    m_ended =
        outcome.kind == FileOutcome::Kind::Stopped || !finished(outcome) || m_stop.stop_requested();
    return !m_ended;
}

bool OneByOneTransform::Pass(FileFinished finished) {
    m_ended = m_ended || !finished(FileOutcome{}) || m_stop.stop_requested();
    return !m_ended;
}

bool OneByOneTransform::Finish() {
    m_folderSyncs.Flush();
    return !m_ended;
}

void OneByOneTransform::SettleLeftoversOf(const std::filesystem::path& temporary) {
    m_leftovers.SettleFolderOf(temporary);
}

}  // namespace kestrove
