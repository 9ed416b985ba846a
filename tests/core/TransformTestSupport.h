#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FileTransform.h"

namespace kestrove::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return m_path / name;
    }

  private:
    std::filesystem::path m_path;
};

[[nodiscard]] Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
[[nodiscard]] Bytes RandomBytes(std::size_t size, std::uint32_t seed);

// Names in a folder, sorted.
[[nodiscard]] std::vector<std::string> FolderNames(const std::filesystem::path& folder);

// The keystream offset of index i under key k, written out from its definition here so that the
// tests do not take it from the code they check.
[[nodiscard]] std::uint8_t ReferenceOffset(std::uint64_t i, std::uint32_t k);

// Plain bytes encrypted the slow way: byte j gets the offset of index j + 1.
[[nodiscard]] Bytes ReferenceEncrypt(const Bytes& plain, std::uint32_t k);

// What a child process reported: its exit code (or the signal that ended it) and a text.
struct ChildResult {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    std::string text;
};

// Runs body in a forked child, which dies after timeoutSeconds at the latest. body returns the exit
// code and may fill text. With asNobody, a child of root first becomes uid/gid 65534, so that
// permission checks apply to it.
[[nodiscard]] ChildResult RunInChild(const std::function<int(std::string& text)>& body,
                                     bool asNobody = false, unsigned timeoutSeconds = 60);

// Runs body in a forked child and kills the child with SIGKILL as soon as it calls the ready it is
// given (ready never returns). True when the child was killed that way.
[[nodiscard]] bool RunAndKillWhenReady(
    const std::function<void(const std::function<void()>& ready)>& body);

// FileOutcome as an exit code for RunInChild, with the failure text in text.
[[nodiscard]] int OutcomeCode(const FileOutcome& outcome, std::string& text);
inline constexpr int kDoneCode = 0;
inline constexpr int kFailedCode = 1;
inline constexpr int kStoppedCode = 2;

inline constexpr std::uint32_t kNobody = 65534;

}  // namespace kestrove::testing
