#pragma once

// Internal to kestrove_core: the transform of one file, shared by FileTransform.cpp (the rename
// into place, and staging for a batch) and RewriteInPlace.cpp (the rewrite in place under an undo
// file).

#include <cstdint>
#include <filesystem>
#include <limits>
#include <stop_token>
#include <utility>
#include <vector>

#include "FileTransformDetail.h"
#include "Keystream.h"
#include "Leftovers.h"
#include "PlatformFile.h"

namespace kestrove::detail {

using platform::IoError;
using platform::IoResult;
using platform::IoStatus;
using platform::NativeFile;
using platform::TargetFile;

constexpr std::uint64_t kToEnd = std::numeric_limits<std::uint64_t>::max();

inline FileOutcome DoneOutcome() {
    return FileOutcome{FileOutcome::Kind::Done, std::nullopt};
}

inline FileOutcome StoppedOutcome() {
    return FileOutcome{FileOutcome::Kind::Stopped, std::nullopt};
}

inline FileOutcome FailedOutcome(const std::filesystem::path& path, const IoError& why,
                                 bool contentReplaced = false) {
    return FileOutcome{FileOutcome::Kind::Failed, FileFailure::At(path, why), contentReplaced};
}

enum class StreamEnd { Finished, Failed, Stopped };

struct StreamResult {
    StreamEnd end = StreamEnd::Finished;
    IoError error;
    std::uint64_t done = 0;     // bytes copied completely
    std::uint64_t touched = 0;  // end of what the destination may have received
};

class Transformer {
  public:
    Transformer(const std::filesystem::path& path, Direction direction, std::uint32_t key,
                std::stop_token stop, const TransformSettings& settings)
        : m_path(path),
          m_direction(direction),
          m_table(key),
          m_stop(std::move(stop)),
          m_settings(settings),
          m_leftovers(settings.leftovers != nullptr ? *settings.leftovers : m_ownLeftovers) {}

    // The whole transform of one file, its flush included.
    FileOutcome Run();
    // Opens the file and writes its new content into staged. Alone leaves target open for
    // writing; files of more than aloneFrom bytes are Alone too.
    StageEnd Stage(TargetFile& target, StagedFile& staged, SmallFile* small, FileOutcome& outcome,
                   std::uint64_t aloneFrom);

  private:
    IoStatus OpenSettled(TargetFile& target);
    IoResult<SmallFile> ReadSmall(TargetFile& target);
    FileOutcome RewriteInPlace(TargetFile& target);
    IoResult<StreamResult> SaveOldContent(TargetFile& target, StagedFile& undo);
    FileOutcome DropUndo(StagedFile& undo, const TargetFile& target);
    FileOutcome PutBack(TargetFile& target, StagedFile& undo, std::uint64_t touched,
                        const IoStatus& failure);
    StreamResult Stream(NativeFile& from, NativeFile& to, WriteStage stage, std::uint64_t limit);
    IoStatus Write(WriteStage stage, NativeFile& to, std::uint64_t offset, const std::uint8_t* data,
                   std::size_t size);
    FileOutcome Failed(const IoError& error) const { return FailedOutcome(m_path, error); }
    FileOutcome Outcome(const StreamResult& result) const {
        return result.end == StreamEnd::Stopped ? StoppedOutcome() : Failed(result.error);
    }

    const std::filesystem::path& m_path;
    Direction m_direction;
    KeystreamTable m_table;
    std::stop_token m_stop;
    const TransformSettings& m_settings;
    LeftoverGuard m_ownLeftovers;
    LeftoverGuard& m_leftovers;
    std::vector<std::uint8_t> m_buffer;
};

}  // namespace kestrove::detail
