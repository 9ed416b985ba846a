#pragma once

#include <filesystem>

// kestrove-filebench folder DIR KEY [RUNS]: a whole folder drop through the drop worker, against
// the same rewrite without any flush and with one flush per file (FolderBench.cpp).
int RunFolderBench(const std::filesystem::path& folder, int key, int runs);

// kestrove-filebench million DIR KEY: a tree of 1,000,000 small files in 10,000 folders (made when
// DIR does not exist) dropped to be encrypted and then decrypted, each drop in a process of its
// own; its time and peak memory.
int RunMillionBench(const std::filesystem::path& folder, int key);
