#include "TransformTestSupport.h"

#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "TextCodec.h"

namespace kestrove::testing {

ScratchFolder::ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrove-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Tests take write permission away; give it back so that everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::uint8_t ReferenceOffset(std::uint64_t i, std::uint32_t k) {
    const std::uint64_t a = (i + 2) % k;
    const std::uint64_t b = (i + 1) % k;
    return static_cast<std::uint8_t>(a * b % k);
}

Bytes ReferenceEncrypt(const Bytes& plain, std::uint32_t k) {
    Bytes out(plain.size());
    for (std::size_t j = 0; j < plain.size(); ++j) {
        out[j] = static_cast<std::uint8_t>((plain[j] + ReferenceOffset(j + 1, k)) % 256);
    }
    return out;
}

namespace {

[[noreturn]] void ChildMain(const std::function<int(std::string&)>& body, bool asNobody,
                            unsigned timeoutSeconds, int output) {
    ::alarm(timeoutSeconds);
    if (asNobody && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(120);
        }
    }
    std::string text;
    int code = 121;
    try {
        code = body(text);
    } catch (const std::exception& error) {
        text = error.what();
    }
    [[maybe_unused]] const ssize_t written = ::write(output, text.data(), text.size());
    ::_exit(code);
}

}  // namespace

ChildResult RunInChild(const std::function<int(std::string& text)>& body, bool asNobody,
                       unsigned timeoutSeconds) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ChildMain(body, asNobody, timeoutSeconds, fds[1]);
    }
    ::close(fds[1]);
    ChildResult result;
    char chunk[512];
    ssize_t n = 0;
    while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0) {
        result.text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

bool RunAndKillWhenReady(const std::function<void(const std::function<void()>& ready)>& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(60);
        const std::function<void()> ready = [&] {
            [[maybe_unused]] const ssize_t written = ::write(fds[1], "r", 1);
            for (;;) {
                ::pause();
            }
        };
        body(ready);
        ::_exit(3);
    }
    ::close(fds[1]);
    char signal = 0;
    const bool becameReady = ::read(fds[0], &signal, 1) == 1;
    ::close(fds[0]);
    if (becameReady) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return becameReady && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

int OutcomeCode(const FileOutcome& outcome, std::string& text) {
    if (outcome.failure) {
        text = Utf16ToUtf8(outcome.failure->description);
    }
    switch (outcome.kind) {
        case FileOutcome::Kind::Done:
            return kDoneCode;
        case FileOutcome::Kind::Failed:
            return kFailedCode;
        case FileOutcome::Kind::Stopped:
            return kStoppedCode;
    }
    return 99;
}

}  // namespace kestrove::testing
