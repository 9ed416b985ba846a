#include "BatchedTransform.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "BatchParts.h"
#include "BatchSettings.h"
#include "FileTransformDetail.h"
#include "JournalRound.h"
#include "PlatformFile.h"

namespace kestrove {

namespace {

using detail::Fates;
using detail::RunTogether;
using platform::IoStatus;

// One file of a batch: staged, or with its fate already known, or a real file met before.
struct Entry {
    std::optional<detail::StagedFile> staged;
    std::optional<detail::SmallFile> small;  // written over in place, under a journal
    FileOutcome outcome;
    FileFinished finished;
    std::filesystem::path path;   // as given, for messages
    std::optional<FileId> met;    // the real file, when this is its first meeting
    std::optional<FileId> again;  // the real file, when it was met before
};

// A file of a batch whose new content is in place (or that had nothing to do), not yet told.
struct Placed {
    Entry* entry = nullptr;
    FileOutcome outcome;
    std::optional<std::filesystem::path> folder;  // to sync before it is told, if renamed there
};

}  // namespace

struct BatchedTransform::State {
    State(Direction direction, std::int32_t key, std::stop_token stop,
          const detail::BatchSettings& settings)
        : direction(direction), key(key), stop(std::move(stop)), settings(settings) {
        this->settings.transform.leftovers = &leftovers;
        this->settings.transform.smallUpTo = this->settings.smallUpTo;
        // Each real file is transformed once per run, whatever path it is reached by.
        this->settings.transform.firstTime = [this](const FileId& file) {
            lastMet = file;
            return fates.Meet(file);
        };
    }

    Direction direction;
    std::int32_t key;
    std::stop_token stop;
    detail::BatchSettings settings;
    LeftoverGuard leftovers;
    Fates fates;
    std::optional<FileId> lastMet;  // the real file the last staging opened
    std::vector<Entry> pending;
    std::uint64_t pendingBytes = 0;
    bool ended = false;
    // The files the last batch replaced, closed (and so freed) on a thread of their own while
    // the next batch is written; at most one batch's worth at a time.
    std::thread releaser;

    ~State() { WaitForRelease(); }
    void WaitForRelease() {
        if (releaser.joinable()) {
            releaser.join();
        }
    }
    void Release(std::vector<platform::NativeFile> replaced);

    bool Queue(Entry entry);
    bool Commit();
    void Flush(std::vector<IoStatus>& results);
    FileOutcome Place(Entry& entry, const IoStatus& flushed, platform::NativeFile& replaced);
    FileOutcome WriteSmall(Entry& entry, detail::JournalRound& round, const IoStatus& prepared);
    bool TellPlaced(std::vector<Placed>& placed, detail::JournalRound& round);
    bool TellAgain(Entry& entry);
    bool Tell(Entry& entry, const FileOutcome& outcome);
    bool End() {
        ended = true;
        pending.clear();  // what is staged and not in place goes, unrenamed
        pendingBytes = 0;
        return false;
    }
};

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
        detail::JournalRound round(direction, static_cast<std::uint32_t>(key));
        for (std::size_t k = i; k < pending.size(); ++k) {
            if (pending[k].small) {
                round.Add(*pending[k].small);
            }
        }
        const IoStatus prepared = round.empty() ? std::nullopt : round.Prepare();
        std::vector<Placed> placed;
        bool told = false;
        for (; i < pending.size() && goOn && !told; ++i) {
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
            if (outcome.ok()) {
                Placed done{&entry, std::move(outcome), std::nullopt};
                if (entry.staged) {
                    done.folder = entry.staged->realPath.parent_path();
                }
                placed.push_back(std::move(done));
                continue;
            }
            goOn = TellPlaced(placed, round) && Tell(entry, outcome);
            told = true;
        }
        // What was placed is made durable and told, also when the run ends here.
        goOn = TellPlaced(placed, round) && goOn;
    }
    Release(std::move(replaced));
    pending.clear();
    pendingBytes = 0;
    return goOn ? true : End();
}

FileOutcome BatchedTransform::State::WriteSmall(Entry& entry, detail::JournalRound& round,
                                                const IoStatus& prepared) {
    const IoStatus failure = prepared ? prepared : round.Write(*entry.small);
    if (failure) {
        return FileOutcome{FileOutcome::Kind::Failed, FileFailure::At(entry.small->path, *failure)};
    }
    return FileOutcome{};
}

void BatchedTransform::State::Flush(std::vector<IoStatus>& results) {
    std::vector<platform::NativeFile*> files;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].staged) {
            files.push_back(&pending[i].staged->temp.file);
            at.push_back(i);
        }
    }
    std::vector<IoStatus> fileResults(files.size());
    if (settings.flush) {
        settings.flush(files, fileResults);
    } else {
        RunTogether(files.size(), settings.flushThreads,
                    [&](std::size_t i) { fileResults[i] = files[i]->Sync(); });
    }
    results.assign(pending.size(), std::nullopt);
    for (std::size_t i = 0; i < at.size(); ++i) {
        results[at[i]] = std::move(fileResults[i]);
    }
}

void BatchedTransform::State::Release(std::vector<platform::NativeFile> replaced) {
    try {
        releaser = std::thread([files = std::move(replaced)]() mutable { files.clear(); });
    } catch (const std::system_error&) {
        // No thread: the files were closed here, as the thread's work went with it.
    }
}

FileOutcome BatchedTransform::State::Place(Entry& entry, const IoStatus& flushed,
                                           platform::NativeFile& replaced) {
    if (!entry.staged) {
        return entry.outcome;
    }
    detail::StagedFile& staged = *entry.staged;
    if (flushed) {
        staged.Discard();
        return FileOutcome{FileOutcome::Kind::Failed, FileFailure::At(staged.path, *flushed)};
    }
    std::function<IoStatus()> beforeReplace;
    if (settings.beforePlace) {
        beforeReplace = [this, &staged] { return settings.beforePlace(staged.path); };
    }
    return detail::PlaceStaged(staged, stop, beforeReplace, &replaced);
}

// Makes the files placed so far durable, together, then tells each file in order: Done, or the
// failure to make it durable (a renamed file keeps its new content then, a small one gets its old
// content back).
bool BatchedTransform::State::TellPlaced(std::vector<Placed>& placed, detail::JournalRound& round) {
    std::vector<std::filesystem::path> folders;
    bool small = false;
    for (const Placed& file : placed) {
        small = small || file.entry->small.has_value();
        if (file.folder &&
            std::find(folders.begin(), folders.end(), *file.folder) == folders.end()) {
            folders.push_back(*file.folder);
        }
    }
    std::vector<IoStatus> synced(folders.size());
    if (small) {
        // One flush for the small files written in place and the folders renamed in.
        const IoStatus durable = round.Settle(folders);
        std::fill(synced.begin(), synced.end(), durable);
    } else {
        RunTogether(folders.size(), settings.flushThreads, [&](std::size_t i) {
            // SyncFolderOf syncs the folder that holds the path it is given.
            synced[i] = platform::SyncFolderOf(folders[i] / ".");
        });
    }
    bool goOn = true;
    for (Placed& file : placed) {
        if (file.folder) {
            const auto at = std::find(folders.begin(), folders.end(), *file.folder);
            if (const IoStatus& failure = synced[static_cast<std::size_t>(at - folders.begin())]) {
                file.outcome = FileOutcome{FileOutcome::Kind::Failed,
                                           FileFailure::At(file.entry->path, *failure), true};
            }
        }
        if (file.entry->small && file.entry->small->failure) {
            file.outcome =
                FileOutcome{FileOutcome::Kind::Failed,
                            FileFailure::At(file.entry->path, *file.entry->small->failure),
                            file.entry->small->contentReplaced};
        }
        // Once the run has ended the rest are still in place, but nobody is told any more.
        goOn = goOn && Tell(*file.entry, file.outcome);
    }
    placed.clear();
    return goOn;
}

// A real file met again is told what its first meeting was told, which is always told first:
// done, or the same failure, never a second transform.
bool BatchedTransform::State::TellAgain(Entry& entry) {
    FileOutcome outcome = fates.Of(*entry.again);
    if (outcome.failure) {
        outcome.failure->path = entry.path;
    }
    return Tell(entry, outcome);
}

bool BatchedTransform::State::Tell(Entry& entry, const FileOutcome& outcome) {
    if (entry.met) {
        fates.Tell(*entry.met, outcome);
    }
    return entry.finished(outcome) && !stop.stop_requested();
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
    Entry entry{std::nullopt, std::nullopt, {},          std::move(finished),
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
    return m_state->Queue(Entry{std::nullopt,
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
