#include "DropJobRunner.h"

#include <exception>
#include <utility>

#include "FileFailure.h"
#include "Leftovers.h"
#include "Rounding.h"

namespace kestrove {

int ProgressWidth(std::size_t i, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    const double share = static_cast<double>(i) / static_cast<double>(count);
    return static_cast<int>(RoundHalfEven(share * kProgressFullWidth));
}

DropWork DropWork::FromCore() {
    DropWork work;
    work.classify = [](const std::filesystem::path& path) { return ClassifyPath(path); };
    work.identify = [](const std::filesystem::path& path) { return IdentifyFile(path); };
    work.walk = [](const std::filesystem::path& folder, std::vector<std::filesystem::path>& results,
                   const WalkObserver& observer) {
        return CollectFolderFiles({folder}, u"*.*", results, true, observer);
    };
    work.cleanLeftover = [](const std::filesystem::path& path) { (void)CleanLeftover(path); };
    work.cleanLeftoversBeside = [](const std::filesystem::path& file) {
        CleanLeftoversBeside(file);
    };
    work.transform = [](const std::filesystem::path& path, Direction direction, std::int32_t key,
                        std::stop_token stop, FolderSyncBatch& folderSyncs) {
        return TransformFile(path, direction, key, std::move(stop), &folderSyncs);
    };
    return work;
}

DropJobRunner::DropJobRunner(DropView& view, DropWork work)
    : m_view(view),
      m_work(std::move(work)),
      m_worker([this](std::stop_token stop) { WorkerLoop(std::move(stop)); }) {}

DropJobRunner::~DropJobRunner() {
    Stop();
}

void DropJobRunner::Enqueue(DropJob job) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void DropJobRunner::Stop() {
    m_worker.request_stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    std::lock_guard lock(m_mutex);
    m_queue.clear();
}

void DropJobRunner::WorkerLoop(std::stop_token stop) {
    while (true) {
        DropJob job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return !m_queue.empty(); })) {
                return;
            }
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        RunDrop(job, stop);
        if (stop.stop_requested()) {
            return;
        }
    }
}

void DropJobRunner::RunDrop(const DropJob& job, std::stop_token stop) {
    m_view.BeginDrop(job.index);
    DropState state;
    try {
        for (const std::filesystem::path& path : job.paths) {
            if (stop.stop_requested()) {
                return;
            }
            const PathInfo info = m_work.classify(path);
            bool goOn = true;
            switch (info.kind) {
                case PathKind::Missing:
                    m_view.AbandonDrop(job.index, stop);
                    return;
                case PathKind::Folder:
                    goOn = RunFolder(path, job, state, stop);
                    break;
                case PathKind::RegularFile:
                    CleanBeside(path, state);
                    goOn = TransformOnce(path, job, state, stop);
                    break;
                case PathKind::Other:
                    m_view.ReportFailure(FailureMessageText({path, info.description}), stop);
                    break;
            }
            if (!goOn) {
                return;
            }
        }
    } catch (const std::exception&) {
        // Anything the per-file handling does not cover ends the drop as a vanished path does.
        m_view.AbandonDrop(job.index, stop);
        return;
    }
    if (!stop.stop_requested()) {
        // Done means on the disk: the last folder's renames are synced before the label shows.
        state.folderSyncs.Flush();
        m_view.EndDrop(job.index);
    }
}

bool DropJobRunner::TransformOnce(const std::filesystem::path& file, const DropJob& job,
                                  DropState& state, std::stop_token stop) {
    if (const std::optional<FileId> id = m_work.identify(file)) {
        if (!state.seen.insert(*id).second) {
            return true;  // the same real file, reached again through another path
        }
    }
    const Direction direction = job.index == 0 ? Direction::Encrypt : Direction::Decrypt;
    const FileOutcome outcome =
        m_work.transform(file, direction, job.cipherKey, stop, state.folderSyncs);
    switch (outcome.kind) {
        case FileOutcome::Kind::Done:
            return true;
        case FileOutcome::Kind::Stopped:
            return false;
        case FileOutcome::Kind::Failed:
            m_view.ReportFailure(
                FailureMessageText(outcome.failure.value_or(FileFailure{file, {}})), stop);
            return !stop.stop_requested();
    }
    return true;
}

void DropJobRunner::CleanBeside(const std::filesystem::path& file, DropState& state) {
    if (m_work.cleanLeftoversBeside && state.cleanedBeside.insert(file.parent_path()).second) {
        m_work.cleanLeftoversBeside(file);
    }
}

bool DropJobRunner::RunFolder(const std::filesystem::path& folder, const DropJob& job,
                              DropState& state, std::stop_token stop) {
    std::vector<std::filesystem::path> files;
    std::vector<std::filesystem::path> leftovers;
    WalkObserver observer;
    observer.onTemporary = [&leftovers](const std::filesystem::path& temporary) {
        leftovers.push_back(temporary);
    };
    observer.onEntry = [&stop] { return !stop.stop_requested(); };
    observer.onFailure = [this, &stop](const FileFailure& failure) {
        m_view.ReportFailure(FailureMessageText(failure), stop);
    };
    if (m_work.walk(folder, files, observer) == WalkEnd::Stopped || stop.stop_requested()) {
        return false;
    }
    // Before any file is written: a backup's old content must be back in its file first.
    for (const std::filesystem::path& leftover : leftovers) {
        if (stop.stop_requested()) {
            return false;
        }
        if (m_work.cleanLeftover) {
            m_work.cleanLeftover(leftover);
        }
    }
    const std::size_t count = files.size();
    for (std::size_t i = 1; i <= count; ++i) {
        if (!TransformOnce(files[i - 1], job, state, stop)) {
            return false;
        }
        m_view.SetProgress(ProgressWidth(i, count));
    }
    return true;
}

}  // namespace kestrove
