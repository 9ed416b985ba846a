#include "DropJobRunner.h"

#include <exception>
#include <utility>

#include "FileFailure.h"
#include "Rounding.h"

namespace kestrove {

int ProgressWidth(std::size_t i, std::size_t count, int fullWidth) {
    if (count == 0) {
        return 0;
    }
    const double share = static_cast<double>(i) / static_cast<double>(count);
    return static_cast<int>(RoundHalfEven(share * fullWidth));
}

DropWork DropWork::FromCore() {
    DropWork work;
    work.classify = [](const std::filesystem::path& path) { return ClassifyPath(path); };
    work.walk = [](const std::filesystem::path& folder, FileList& results,
                   const WalkObserver& observer) {
        return CollectFolderFiles({folder}, u"*.*", results, true, observer);
    };
    work.startBatch = [](Direction direction, std::int32_t key, std::stop_token stop) {
        return std::unique_ptr<FileBatch>(
            std::make_unique<BatchedTransform>(direction, key, std::move(stop)));
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
    {
        // Taken so that the worker is either before its look at the stop or already waiting.
        std::lock_guard lock(m_mutex);
    }
    m_wake.notify_all();
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
            // Stop() wakes this wait itself: no stop_callback (see StopWait.h).
            m_wake.wait(lock, [this, &stop] { return !m_queue.empty() || stop.stop_requested(); });
            if (stop.stop_requested()) {
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
    const Direction direction = job.index == 0 ? Direction::Encrypt : Direction::Decrypt;
    state.batch = m_work.startBatch(direction, job.cipherKey, stop);
    try {
        for (const std::filesystem::path& path : job.paths) {
            if (stop.stop_requested() || !RunPath(path, job, state, stop)) {
                return;
            }
        }
        // Done means on the disk: the last batch is in place and its folders synced before the
        // label shows.
        if (!state.batch->Finish()) {
            return;
        }
    } catch (const std::exception&) {
        // Anything the per-file handling does not cover ends the drop as a vanished path does,
        // after the files before it.
        try {
            (void)state.batch->Finish();
        } catch (const std::exception&) {
        }
        m_view.AbandonDrop(job.index, stop);
        return;
    }
    if (!stop.stop_requested()) {
        m_view.EndDrop(job.index);
    }
}

bool DropJobRunner::RunPath(const std::filesystem::path& path, const DropJob& job, DropState& state,
                            std::stop_token stop) {
    const PathInfo info = m_work.classify(path);
    switch (info.kind) {
        case PathKind::Missing:
            // The files before it are in place first, as they would be one by one.
            if (state.batch->Finish()) {
                m_view.AbandonDrop(job.index, stop);
            }
            return false;
        case PathKind::Folder:
            return RunFolder(path, state, stop);
        case PathKind::RegularFile:
            return TransformOnce(path, state, stop, std::nullopt);
        case PathKind::Other:
            if (!state.batch->Finish()) {
                return false;
            }
            m_view.ReportFailure(FileFailure::At(path, info.why), stop);
            return !stop.stop_requested();
    }
    return true;
}

bool DropJobRunner::TransformOnce(const std::filesystem::path& file, DropState& state,
                                  std::stop_token stop,
                                  std::optional<std::pair<std::size_t, std::size_t>> progress) {
    FileFinished finished = [this, file, stop, progress](const FileOutcome& outcome) {
        if (outcome.kind == FileOutcome::Kind::Failed) {
            m_view.ReportFailure(outcome.failure.value_or(FileFailure{file}), stop);
            if (stop.stop_requested()) {
                return false;
            }
        }
        if (progress) {
            m_view.SetProgress(progress->first, progress->second);
        }
        return true;
    };
    // The run transforms each real file once, however often it is reached.
    return state.batch->Add(file, std::move(finished));
}

bool DropJobRunner::RunFolder(const std::filesystem::path& folder, DropState& state,
                              std::stop_token stop) {
    // What the walk reports comes after the files before it are in place.
    if (!state.batch->Finish()) {
        return false;
    }
    FileList files;
    std::vector<std::filesystem::path> leftovers;
    WalkObserver observer;
    observer.onTemporary = [&leftovers](const std::filesystem::path& temporary) {
        leftovers.push_back(temporary);
    };
    observer.onEntry = [&stop] { return !stop.stop_requested(); };
    observer.onFailure = [this, &stop](const FileFailure& failure) {
        m_view.ReportFailure(failure, stop);
    };
    if (m_work.walk(folder, files, observer) == WalkEnd::Stopped || stop.stop_requested()) {
        return false;
    }
    // Before any file of the walk is written; the run deals with each folder once, and with the
    // folders of files no walk met (a dropped file, a link's target) before their first file.
    for (const std::filesystem::path& leftover : leftovers) {
        if (stop.stop_requested()) {
            return false;
        }
        state.batch->SettleLeftoversOf(leftover);
    }
    const std::size_t count = files.size();
    for (std::size_t i = 1; i <= count; ++i) {
        if (!TransformOnce(files.PathAt(i - 1), state, stop, std::make_pair(i, count))) {
            return false;
        }
    }
    return true;
}

}  // namespace kestrove
