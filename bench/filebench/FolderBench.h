#pragma once

#include <filesystem>

// kestrove-filebench folder DIR KEY [RUNS]: a whole folder drop through the drop worker, against
// the same rewrite without any flush and with one flush per file (FolderBench.cpp).
int RunFolderBench(const std::filesystem::path& folder, int key, int runs);
