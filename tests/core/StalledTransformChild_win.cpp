// kestrove-stalled-transform FILE STAGE OFFSET BLOCK EVENT: the second process of
// StalledTransform_win.cpp. Encrypts FILE and, just before the write of STAGE at OFFSET, sets the
// named EVENT and waits to be killed.
#include <windows.h>

#include <cwchar>
#include <filesystem>

#include "FileTransformDetail.h"
#include "StalledTransform.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        return 2;
    }
    using kestrove::detail::WriteStage;
    const auto stage = static_cast<WriteStage>(std::wcstol(argv[2], nullptr, 10));
    const std::uint64_t offset = std::wcstoull(argv[3], nullptr, 10);
    const HANDLE stalled = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[5]);
    if (stalled == nullptr) {
        return 4;
    }
    kestrove::detail::TransformSettings settings;
    settings.blockSize = std::wcstoull(argv[4], nullptr, 10);
    settings.beforeWrite = [&](WriteStage now, std::uint64_t at) -> kestrove::platform::IoStatus {
        if (now == stage && at == offset) {
            SetEvent(stalled);
            Sleep(INFINITE);
        }
        return std::nullopt;
    };
    (void)kestrove::detail::TransformFileWith(std::filesystem::path(argv[1]),
                                              kestrove::Direction::Encrypt,
                                              kestrove::testing::kStalledKey, {}, settings);
    return 3;
}
