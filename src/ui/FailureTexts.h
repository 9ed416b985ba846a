#pragma once

#include <QString>

#include "FileFailure.h"

namespace kestrove {

// The text of the box about a failed file: "加密时" immediately followed by what went wrong (the
// system's own words where it gave them), and where a copy of the file's old content is when that
// matters; no file name, and the same words for decryption.
[[nodiscard]] QString FailureMessageText(const FileFailure& failure);

}  // namespace kestrove
