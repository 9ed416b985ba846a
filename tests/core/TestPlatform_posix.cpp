#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>

#include "FaultInjection.h"
#include "TestPlatform.h"
#include "TextCodec.h"

namespace kestrove::testing {

int NotFoundError() {
    return ENOENT;
}

int AccessDeniedError() {
    return EACCES;
}

int InUseError() {
    return EBUSY;
}

std::vector<InjectedError> ErrorsToInject() {
    return {{EIO, "Eio", false, false},
            {ENOSPC, "Enospc", false, false},
            {EACCES, "Eacces", false, false},
            {EINTR, "Eintr", false, true},
            {EIO, "Crash", true, false}};
}

Failure FolderAsFileFailure() {
    return Failure{SystemErrorText(EISDIR)};
}

void MakeReadOnly(const std::filesystem::path& file) {
    if (::chmod(file.c_str(), 0444) != 0) {
        throw std::runtime_error("chmod failed: " + file.string());
    }
}

std::uint32_t FileModeOf(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        throw std::runtime_error("stat failed: " + file.string());
    }
    return info.st_mode;
}

}  // namespace kestrove::testing
