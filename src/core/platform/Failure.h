#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrove {

// What went wrong, in kinds: the windows put each kind into words. Only the system's own errors
// bring their words along, as the system gives them.
enum class Problem : std::uint8_t {
    System,                   // the platform's error: description holds its words (or none)
    ReplacedWhileOpened,      // the name was given to another file while it was opened
    NotRegularFile,           // a FIFO, socket, device or folder: type says which
    ChangedSinceInterrupted,  // a file holds neither its old nor its new content after a crash
    DamagedCopy,              // a copy of a file's old content cannot be read as ours
    UnknownProgress,          // an earlier version's copy, which says nothing of how far it got
    InUseElsewhere,           // another running program is rewriting the file
    PartnerGone,              // a file rewritten in the same batch is no longer where it was
    ShorterThanExpected,      // a file or copy ended before the length it should have
    OutOfMemory,
    InvalidKey,
};

// Where a copy of a file's old content is, when the failure leaves one the user should know of.
enum class CopyNote : std::uint8_t {
    None,
    OldContentKeptIn,  // the only whole copy of the old content: the file could not get it back
    CopyStillAt,       // a copy of the old content that could not be removed; the file is done
};

struct Failure {
    std::u16string description{};  // the system's words for a System problem
    int code = 0;                  // the platform's error number, where there is one
    Problem problem = Problem::System;
    std::filesystem::file_type type = std::filesystem::file_type::none;  // for NotRegularFile
    CopyNote note = CopyNote::None;
    std::filesystem::path copy{};  // for a note

    // A failure that is not the system's own error.
    [[nodiscard]] static Failure Of(Problem problem) {
        Failure failure;
        failure.problem = problem;
        return failure;
    }
    [[nodiscard]] static Failure NotRegular(std::filesystem::file_type type) {
        Failure failure = Of(Problem::NotRegularFile);
        failure.type = type;
        return failure;
    }
    // The same failure, telling where a copy of the old content is.
    [[nodiscard]] Failure With(CopyNote how, std::filesystem::path where) const {
        Failure failure = *this;
        failure.note = how;
        failure.copy = std::move(where);
        return failure;
    }
};

}  // namespace kestrove
