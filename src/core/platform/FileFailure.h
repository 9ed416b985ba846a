#pragma once

#include <filesystem>
#include <string>

#include "Failure.h"

namespace kestrove {

// A per-file failure: which path, and what went wrong (Failure.h). Core code returns these; only
// the windows put them into words.
struct FileFailure {
    std::filesystem::path path;
    std::u16string description{};  // the system's words for a System problem
    int code = 0;
    Problem problem = Problem::System;
    std::filesystem::file_type type = std::filesystem::file_type::none;
    CopyNote note = CopyNote::None;
    std::filesystem::path copy{};

    [[nodiscard]] static FileFailure At(std::filesystem::path path, const Failure& failure) {
        return {std::move(path), failure.description, failure.code, failure.problem,
                failure.type,    failure.note,        failure.copy};
    }

    bool operator==(const FileFailure&) const = default;
};

}  // namespace kestrove
