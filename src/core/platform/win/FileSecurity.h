#pragma once

// Internal to kestrove_core on Windows: the owner and access list that a file's new content takes
// over from the file it replaces, and the protection of our own temporary files.

#include <cstdint>

#include "PlatformFile.h"

namespace kestrove::platform {

// Security attributes (a SECURITY_ATTRIBUTES*) for a new file that only the current user may
// open, as a temporary file holding a copy of someone's file must be; null when the system cannot
// say who the current user is, and the new file then gets its folder's usual access list.
[[nodiscard]] void* OwnerOnlySecurityAttributes();

// Gives file `to` the owner of file `from`: whether it has it now. Not when this process may not
// give that owner to a file (only a process with restore rights can give a file to someone else).
[[nodiscard]] IoResult<bool> CopyOwner(std::intptr_t from, std::intptr_t to);

// Gives file `to` the access list of file `from`, protected from the folder's inherited entries
// exactly when the original's is: whether it has it now. Nothing to copy on a file system without
// access lists. Not, and `to` left as it was, when `from` has an integrity label of its own, which
// only the file itself can keep (see FileMetadata_win.cpp).
[[nodiscard]] IoResult<bool> CopyAccessList(std::intptr_t from, std::intptr_t to);

}  // namespace kestrove::platform
