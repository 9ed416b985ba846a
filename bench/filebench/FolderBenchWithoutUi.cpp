// The folder mode in a build without the windows (KESTROVE_GUI=OFF), which has no drop worker.
#include <cstdio>

#include "FolderBench.h"

int RunFolderBench(const std::filesystem::path&, int, int) {
    std::fprintf(stderr, "the folder mode needs a build with the windows (KESTROVE_GUI=ON)\n");
    return 2;
}

int RunMillionBench(const std::filesystem::path&, int) {
    std::fprintf(stderr, "the million mode needs a build with the windows (KESTROVE_GUI=ON)\n");
    return 2;
}
