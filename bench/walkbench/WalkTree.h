#pragma once

#include <cstddef>
#include <filesystem>

namespace kestrove::bench {

// Fills dir with `folders` folders (ten at the top, the rest spread beneath them) holding
// `files` empty files between them. Every tenth file has no dot in its name, so a "*.*" walk
// selects nine in ten. Returns false, after saying why on stderr, when something cannot be made.
bool MakeTree(const std::filesystem::path& dir, std::size_t folders, std::size_t files);

}  // namespace kestrove::bench
