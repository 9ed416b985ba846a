#include <windows.h>

#include <stdexcept>

#include "FaultInjection.h"
#include "PathInfo.h"
#include "TestPlatform.h"

namespace kestrove::testing {

namespace {}  // namespace

int NotFoundError() {
    return ERROR_FILE_NOT_FOUND;
}

int AccessDeniedError() {
    return ERROR_ACCESS_DENIED;
}

int InUseError() {
    return ERROR_SHARING_VIOLATION;
}

// Windows has no interrupted calls. A sharing violation is what a call meets when another program
// holds the file.
std::vector<InjectedError> ErrorsToInject() {
    return {{ERROR_IO_DEVICE, "IoDevice", false, false},
            {ERROR_DISK_FULL, "DiskFull", false, false},
            {ERROR_ACCESS_DENIED, "AccessDenied", false, false},
            {ERROR_SHARING_VIOLATION, "SharingViolation", false, false},
            {ERROR_IO_DEVICE, "Crash", true, false}};
}

Failure FolderAsFileFailure() {
    return Failure::NotRegular(std::filesystem::file_type::directory);
}

void MakeReadOnly(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(file.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
        throw std::runtime_error("cannot make read-only: " + file.string());
    }
}

std::uint32_t FileModeOf(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw std::runtime_error("no attributes: " + file.string());
    }
    return attributes;
}

}  // namespace kestrove::testing
