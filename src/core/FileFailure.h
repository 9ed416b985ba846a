#pragma once

#include <filesystem>
#include <string>

namespace kestrove {

// A per-file failure: which path, and the platform's own wording of what went wrong.
// Core code returns these; only the windows turn them into message boxes.
struct FileFailure {
    std::filesystem::path path;
    std::u16string description;

    bool operator==(const FileFailure&) const = default;
};

// Title of every prompt box the program shows ("prompt information").
inline constexpr char16_t kPromptTitle[] = u"提示信息";

// The text shown for a failed file: "加密时" immediately followed by the description, no
// file name and nothing in between. Decryption uses the same words.
[[nodiscard]] std::u16string FailureMessageText(const FileFailure& failure);

}  // namespace kestrove
