#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BatchedTransform.h"
#include "FileTransform.h"
#include "FolderWalker.h"
#include "PathInfo.h"

namespace kestrove {

// Width of a bar of fullWidth after the i-th of count files: i / count * fullWidth in double
// precision, taken to the nearest integer with ties going to the even one.
[[nodiscard]] int ProgressWidth(std::size_t i, std::size_t count, int fullWidth);

// One drop: the target it landed on (0 encrypt, 1 decrypt) and the dropped paths in list order.
struct DropJob {
    int index = 0;
    std::vector<std::filesystem::path> paths;
    std::int32_t cipherKey = 0;
};

// What a drop shows. The runner calls these on its worker thread, in this order per drop:
// BeginDrop, then SetProgress / ReportFailure as files are done, then EndDrop or AbandonDrop.
class DropView {
  public:
    virtual ~DropView() = default;
    virtual void BeginDrop(int index) = 0;
    // The done-th of count files of a folder is done.
    virtual void SetProgress(std::size_t done, std::size_t count) = 0;
    virtual void EndDrop(int index) = 0;
    // Both return once the user has closed the box, or as soon as a stop is requested.
    virtual void ReportFailure(const FileFailure& failure, std::stop_token stop) = 0;
    virtual void AbandonDrop(int index, std::stop_token stop) = 0;
};

// The file-system work of a drop; tests replace parts of it.
struct DropWork {
    std::function<PathInfo(const std::filesystem::path&)> classify;
    // Lists the files beneath one folder with "*.*" into results (emptied first).
    std::function<WalkEnd(const std::filesystem::path&, FileList&, const WalkObserver&)> walk;
    // Starts the run of files of one drop, which transforms them in order (BatchedTransform).
    std::function<std::unique_ptr<FileBatch>(Direction, std::int32_t cipherKey, std::stop_token)>
        startBatch;

    // The real thing: the core library's classification, walker and file transform.
    [[nodiscard]] static DropWork FromCore();
};

// Runs drops one after another, in arrival order, on one worker thread, so the window stays
// responsive and a second drop never runs inside the first.
class DropJobRunner {
  public:
    explicit DropJobRunner(DropView& view, DropWork work = DropWork::FromCore());
    ~DropJobRunner();
    DropJobRunner(const DropJobRunner&) = delete;
    DropJobRunner& operator=(const DropJobRunner&) = delete;

    void Enqueue(DropJob job);

    // Asks the worker to stop and waits for it: a file being transformed is abandoned between
    // two blocks and keeps its old content. Queued drops are dropped. Idempotent.
    void Stop();

  private:
    void WorkerLoop(std::stop_token stop);
    // What one drop keeps while it runs.
    struct DropState {
        std::unique_ptr<FileBatch> batch;
    };

    void RunDrop(const DropJob& job, std::stop_token stop);
    // False when the drop must end here (a stop was requested).
    bool RunPath(const std::filesystem::path& path, const DropJob& job, DropState& state,
                 std::stop_token stop);
    // Gives the file to the drop's run of files; progress is how far the folder it belongs to
    // has got once it is done (done, count).
    bool TransformOnce(const std::filesystem::path& file, DropState& state, std::stop_token stop,
                       std::optional<std::pair<std::size_t, std::size_t>> progress);
    bool RunFolder(const std::filesystem::path& folder, DropState& state, std::stop_token stop);

    DropView& m_view;
    DropWork m_work;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<DropJob> m_queue;
    std::jthread m_worker;  // last, so that it starts after everything above exists
};

}  // namespace kestrove
