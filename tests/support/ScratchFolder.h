#pragma once

#include <filesystem>
#include <string>

namespace kestrove::testing {

// A fresh folder under the system's temporary folder (or under base), removed with everything in
// it (read-only files and closed folders included).
class ScratchFolder {
  public:
    explicit ScratchFolder(
        const std::filesystem::path& base = std::filesystem::temp_directory_path());
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

// Removes folder with everything in it, whatever tests did to it: write permission taken away,
// read-only attributes, paths longer than the system's old limit. Links are removed, never
// followed.
void RemoveTree(const std::filesystem::path& folder);

}  // namespace kestrove::testing
