#pragma once

// Internal to kestrove_core: the state of a batch run, shared by BatchedTransform.cpp (queueing
// and committing in order) and BatchTelling.cpp (flushing, placing each file, making them durable
// and telling).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "BatchParts.h"
#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "FileTransformDetail.h"
#include "JournalRound.h"
#include "PlatformFile.h"

namespace kestrove {

struct BatchedTransform::State {
    using IoStatus = platform::IoStatus;

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
    detail::Fates fates;
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
    bool PlaceRound(std::size_t& i, const std::vector<IoStatus>& flushed,
                    std::vector<platform::NativeFile>& replaced);
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

}  // namespace kestrove
