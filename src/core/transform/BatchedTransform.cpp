#include "BatchedTransform.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "BatchState.h"

namespace kestrove {

bool BatchedTransform::State::Queue(Entry entry) {
    const std::uint64_t size = entry.staged  ? entry.staged->size
                               : entry.small ? entry.small->old.size()
                                             : 0;
    // A batch never holds more than the limits: the batch so far goes first when this file
    // would take it past them.
    if (!pending.empty() && pendingBytes + size > settings.limits.bytes && !Commit()) {
        return false;
    }
    pendingBytes += size;
    pending.push_back(std::move(entry));
    if (pending.size() >= settings.limits.files || pendingBytes >= settings.limits.bytes) {
        return Commit();
    }
    return true;
}

// The files take their new content in order: renamed into place, or small ones written over in
// place once their journal is on the disk. A file's success is told once its new content is
// durable, which is made so for all files placed so far before any failure is told and at the
// end: so a failure of file i is told before any later file takes its new content, and Done
// always means durable. Telling settles the round of journals; the small files after it get a
// round of their own.
bool BatchedTransform::State::Commit() {
    if (ended) {
        return false;
    }
    if (pending.empty()) {
        return true;
    }
    if (settings.onCommit) {
        settings.onCommit(pending.size(), pendingBytes);
    }
    std::vector<IoStatus> flushed;
    Flush(flushed);
    std::vector<platform::NativeFile> replaced;
    replaced.reserve(pending.size());
    WaitForRelease();
    bool goOn = true;
    for (std::size_t i = 0; i < pending.size() && goOn;) {
        goOn = PlaceRound(i, flushed, replaced);
    }
    Release(std::move(replaced));
    pending.clear();
    pendingBytes = 0;
    return goOn ? true : End();
}

// One round of Commit from pending[i] on: the small files from there share a round of journals;
// the round ends at the first file told out of order (a failure, or a file met before), and i
// is left at the file after it.
bool BatchedTransform::State::PlaceRound(std::size_t& i, const std::vector<IoStatus>& flushed,
                                         std::vector<platform::NativeFile>& replaced) {
    detail::JournalRound round(direction, static_cast<std::uint32_t>(key));
    for (std::size_t k = i; k < pending.size(); ++k) {
        if (pending[k].small) {
            round.Add(*pending[k].small);
        }
    }
    const IoStatus prepared = round.empty() ? std::nullopt : round.Prepare();
    std::vector<Placed> placed;
    bool goOn = true;
    for (bool told = false; i < pending.size() && goOn && !told; ++i) {
        if (stop.stop_requested()) {
            goOn = false;
            break;
        }
        Entry& entry = pending[i];
        if (entry.again) {
            goOn = TellPlaced(placed, round) && TellAgain(entry);
            told = true;
            continue;
        }
        FileOutcome outcome;
        if (entry.small) {
            outcome = WriteSmall(entry, round, prepared);
        } else {
            replaced.emplace_back();
            outcome = Place(entry, flushed[i], replaced.back());
        }
        if (outcome.kind == FileOutcome::Kind::Stopped) {
            goOn = false;
            break;
        }
        if (!outcome.ok()) {
            goOn = TellPlaced(placed, round) && Tell(entry, outcome);
            told = true;
            continue;
        }
        Placed done{&entry, std::move(outcome), std::nullopt};
        if (entry.staged) {
            done.folder = entry.staged->realPath.parent_path();
        }
        placed.push_back(std::move(done));
    }
    // What was placed is made durable and told, also when the run ends here.
    return TellPlaced(placed, round) && goOn;
}

namespace {

detail::BatchSettings WithLimits(const BatchLimits& limits) {
    detail::BatchSettings settings;
    settings.limits = limits;
    return settings;
}

}  // namespace

BatchedTransform::BatchedTransform(Direction direction, std::int32_t cipherKey,
                                   std::stop_token stop, BatchLimits limits)
    : BatchedTransform(direction, cipherKey, std::move(stop), WithLimits(limits)) {}

BatchedTransform::BatchedTransform(Direction direction, std::int32_t cipherKey,
                                   std::stop_token stop, const detail::BatchSettings& settings)
    : m_state(std::make_unique<State>(direction, cipherKey, std::move(stop), settings)) {
    // A batch holds two files open per file, its temporary file and the file it replaces, and
    // must leave room for the rest of the program.
    constexpr std::size_t kKeptFree = 64;
    const std::size_t allowed = platform::OpenFilesAllowed();
    const std::size_t most = allowed > 2 * kKeptFree ? (allowed - kKeptFree) / 2 : 1;
    std::size_t& files = m_state->settings.limits.files;
    files = std::clamp<std::size_t>(files, 1, most);
}

BatchedTransform::~BatchedTransform() = default;

bool BatchedTransform::Add(const std::filesystem::path& path, FileFinished finished) {
    State& state = *m_state;
    if (state.ended || state.stop.stop_requested()) {
        return state.End();
    }
    State::Entry entry{std::nullopt, std::nullopt, {},          std::move(finished),
                       path,         std::nullopt, std::nullopt};
    state.lastMet.reset();
    detail::Staging staging =
        detail::StageFile(path, state.direction, state.key, state.stop, state.settings.transform,
                          state.settings.limits.aloneFrom);
    switch (staging.end) {
        case detail::StageEnd::Staged:
            entry.staged = std::move(staging.staged);
            entry.met = state.lastMet;
            return state.Queue(std::move(entry));
        case detail::StageEnd::Small:
            entry.small = std::move(staging.small);
            entry.met = state.lastMet;
            return state.Queue(std::move(entry));
        case detail::StageEnd::Again:
            entry.again = state.lastMet;
            return state.Queue(std::move(entry));
        case detail::StageEnd::Finished:
            if (staging.outcome.kind == FileOutcome::Kind::Stopped) {
                return state.End();
            }
            entry.outcome = std::move(staging.outcome);
            entry.met = state.lastMet;
            return state.Queue(std::move(entry));
        case detail::StageEnd::Alone:
            entry.met = state.lastMet;
            break;
    }
    // Its new content must not overtake the files before it.
    if (!state.Commit()) {
        return false;
    }
    // Met already: this very file, on its own now.
    detail::TransformSettings alone = state.settings.transform;
    alone.firstTime = nullptr;
    const FileOutcome outcome =
        detail::TransformFileWith(path, state.direction, state.key, state.stop, alone);
    if (outcome.kind == FileOutcome::Kind::Stopped || !state.Tell(entry, outcome)) {
        return state.End();
    }
    return true;
}

bool BatchedTransform::Pass(FileFinished finished) {
    if (m_state->ended) {
        return false;
    }
    return m_state->Queue(State::Entry{std::nullopt,
                                       std::nullopt,
                                       FileOutcome{},
                                       std::move(finished),
                                       {},
                                       std::nullopt,
                                       std::nullopt});
}

bool BatchedTransform::Finish() {
    return m_state->Commit();
}

void BatchedTransform::SettleLeftoversOf(const std::filesystem::path& temporary) {
    m_state->leftovers.SettleFolderOf(temporary);
}

}  // namespace kestrove
