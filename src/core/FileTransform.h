#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

#include "FileFailure.h"
#include "Keystream.h"

namespace kestrove {

// What became of one file.
struct [[nodiscard]] FileOutcome {
    enum class Kind {
        Done,     // the path now holds the transformed content (or was empty and is untouched)
        Failed,   // nothing changed; failure says why
        Stopped,  // a stop was requested before the new content took the file's place
    };

    Kind kind = Kind::Done;
    std::optional<FileFailure> failure;

    [[nodiscard]] bool ok() const { return kind == Kind::Done; }
};

// Encrypts / decrypts the file at path in place under cipherKey (the run's key, 10..165 after a
// login). The byte at file offset j is shifted by KeystreamValue(j + 1, key). The file keeps its
// path, length, permission bits and hard links; at every instant the path holds either the whole
// old or the whole new content. A stop request is honoured between blocks: the temporary file is
// removed and the original left as it was. Shows nothing: failures come back as values.
[[nodiscard]] FileOutcome EncryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                                      std::stop_token stop = {});
[[nodiscard]] FileOutcome DecryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                                      std::stop_token stop = {});
[[nodiscard]] FileOutcome TransformFile(const std::filesystem::path& path, Direction direction,
                                        std::int32_t cipherKey, std::stop_token stop = {});

}  // namespace kestrove
