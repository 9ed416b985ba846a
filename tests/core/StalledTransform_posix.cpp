#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "StalledTransform.h"

namespace kestrove::testing {

StalledTransform::StalledTransform(const std::filesystem::path& file, detail::WriteStage stage,
                                   std::uint64_t offset, std::size_t blockSize) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(60);
        detail::TransformSettings settings;
        settings.blockSize = blockSize;
        settings.beforeWrite = [&](detail::WriteStage now, std::uint64_t at) -> platform::IoStatus {
            if (now == stage && at == offset) {
                [[maybe_unused]] const ssize_t written = ::write(fds[1], "r", 1);
                for (;;) {
                    ::pause();
                }
            }
            return std::nullopt;
        };
        (void)detail::TransformFileWith(file, Direction::Encrypt, kStalledKey, {}, settings);
        ::_exit(3);
    }
    ::close(fds[1]);
    m_process = pid;
    char signal = 0;
    const bool stalled = ::read(fds[0], &signal, 1) == 1;
    ::close(fds[0]);
    if (!stalled) {
        Kill();
        throw std::runtime_error("the transform ended before it got to the point to stop at");
    }
}

StalledTransform::~StalledTransform() {
    Kill();
}

void StalledTransform::Kill() {
    if (m_process > 0) {
        const auto pid = static_cast<pid_t>(m_process);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        m_process = 0;
    }
}

}  // namespace kestrove::testing
