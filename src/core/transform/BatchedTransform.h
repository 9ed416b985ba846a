#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>

#include "FileTransform.h"
#include "Leftovers.h"

namespace kestrove {

// Told the fate of one file, in the order the files were given: Done (its new content is in
// place) or Failed. Returns false to end the run: the files after it that are not in place yet
// keep their old content. A stop ends the run the same way, without a call.
using FileFinished = std::function<bool(const FileOutcome&)>;

// A run of files transformed one after another, each file's fate told in order.
class FileBatch {
  public:
    virtual ~FileBatch() = default;
    // Transforms path, now or together with later files. False once the run has ended.
    [[nodiscard]] virtual bool Add(const std::filesystem::path& path, FileFinished finished) = 0;
    // A file with nothing to do (already done in this run): told Done in its turn.
    [[nodiscard]] virtual bool Pass(FileFinished finished) = 0;
    // Puts every file given so far in place and makes it durable. False once the run has ended.
    [[nodiscard]] virtual bool Finish() = 0;
    // Deals with the leftovers in the folder of a temporary file that a walk met (Leftovers.h),
    // ahead of the files there; each folder is dealt with once per run, before its first file is
    // written, whether or not a walk met anything there.
    virtual void SettleLeftoversOf(const std::filesystem::path& temporary) = 0;
};

struct BatchLimits {
    std::size_t files = 256;
    std::uint64_t bytes = std::uint64_t{64} << 20;
    std::uint64_t aloneFrom = std::uint64_t{4} << 20;  // larger files go on their own
};

namespace detail {
struct BatchSettings;
}

// Group commit. Each real file is transformed once per run: met again under the same or another
// path, it is told what it was told the first time. Each file's new content goes to its temporary
// file as with TransformFile, but unflushed; once a batch is full (limits.files files or
// limits.bytes bytes), the batch's temporary files are flushed together, then put in place in
// order, each file's fate told right after its rename (so a failure of file i is told before any
// later file takes its new content), then each folder is synced once. A file that is larger than
// limits.aloneFrom, has several names, or has an owner a new file cannot be given goes on its own,
// the way TransformFile does it, once the files before it are in place. At every instant a file
// holds its whole old or its whole new content; a crash leaves at most one batch of temporary
// files. Memory use is bounded by the limits, whatever the number of files.
class BatchedTransform final : public FileBatch {
  public:
    BatchedTransform(Direction direction, std::int32_t cipherKey, std::stop_token stop,
                     BatchLimits limits = {});
    BatchedTransform(Direction direction, std::int32_t cipherKey, std::stop_token stop,
                     const detail::BatchSettings& settings);
    ~BatchedTransform() override;
    BatchedTransform(const BatchedTransform&) = delete;
    BatchedTransform& operator=(const BatchedTransform&) = delete;

    [[nodiscard]] bool Add(const std::filesystem::path& path, FileFinished finished) override;
    [[nodiscard]] bool Pass(FileFinished finished) override;
    [[nodiscard]] bool Finish() override;
    void SettleLeftoversOf(const std::filesystem::path& temporary) override;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Without batches, the way the benchmarks measure against: each file is transformed, flushed and
// put in place before Add returns, and each folder synced once per run of files in it, as
// TransformFile with a FolderSyncBatch does (so a file is told Done before its folder is synced).
class OneByOneTransform final : public FileBatch {
  public:
    OneByOneTransform(Direction direction, std::int32_t cipherKey, std::stop_token stop);

    [[nodiscard]] bool Add(const std::filesystem::path& path, FileFinished finished) override;
    [[nodiscard]] bool Pass(FileFinished finished) override;
    [[nodiscard]] bool Finish() override;
    void SettleLeftoversOf(const std::filesystem::path& temporary) override;

  private:
    Direction m_direction;
    std::int32_t m_key;
    std::stop_token m_stop;
    FolderSyncBatch m_folderSyncs;
    LeftoverGuard m_leftovers;
    bool m_ended = false;
};

}  // namespace kestrove
