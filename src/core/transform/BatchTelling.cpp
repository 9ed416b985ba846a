#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "BatchState.h"

namespace kestrove {

using detail::RunTogether;
using platform::IoStatus;

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

}  // namespace kestrove
