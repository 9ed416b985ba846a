#include "WalkerTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kestrove::testing {

TempTree::TempTree() {
    fs::permissions(root(), fs::perms(0755));
}

fs::path TempTree::Folder(const std::string& relative) const {
    const fs::path path = root() / relative;
    fs::create_directories(path);
    return path;
}

fs::path TempTree::File(const std::string& relative) const {
    const fs::path path = root() / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
    return path;
}

fs::path TempTree::Link(const std::string& relative, const fs::path& target) const {
    const fs::path path = root() / relative;
    fs::create_directories(path.parent_path());
    fs::create_symlink(target, path);
    return path;
}

std::vector<std::string> ExpectedWalk(const std::vector<std::string>& folders,
                                      const std::function<bool(const std::string&)>& selects) {
    std::vector<std::string> results;
    std::vector<std::string> level;
    for (const auto& folder : folders) {
        level.push_back(folder.back() == '/' ? folder : folder + "/");
    }
    while (!level.empty()) {
        std::vector<std::string> next;
        for (const auto& folder : level) {
            bool collected = false;
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                if (entry.is_directory()) {
                    if (name[0] != '.') {
                        next.push_back(folder + name + "/");
                    }
                    continue;
                }
                if (collected) {
                    continue;
                }
                collected = true;
                for (const auto& file : fs::directory_iterator(folder)) {
                    const std::string fileName = file.path().filename().string();
                    if (!file.is_directory() && selects(fileName)) {
                        results.push_back(folder + fileName);
                    }
                }
            }
        }
        level = std::move(next);
    }
    return results;
}

std::vector<std::string> AsStrings(const std::vector<fs::path>& paths) {
    std::vector<std::string> strings;
    for (const auto& path : paths) {
        strings.push_back(path.native());
    }
    return strings;
}

std::vector<std::string> WalkPaths(const std::vector<fs::path>& folders,
                                   std::u16string_view pattern, const WalkObserver& observer) {
    std::vector<fs::path> results;
    CollectFolderFiles(folders, pattern, results, true, observer);
    return AsStrings(results);
}

namespace {

class FakeListing final : public FolderListing {
  public:
    explicit FakeListing(const FakeDirectorySource::Folder& folder) : m_folder(folder) {}

    bool Next(ListedEntry& entry) override {
        if (m_next >= m_folder.entries.size() || m_next >= m_folder.failAfter) {
            return false;
        }
        const auto& [name, kind] = m_folder.entries[m_next++];
        entry.name = name;
        entry.kind = kind;
        return true;
    }

    std::optional<std::u16string> Failure() const override {
        if (m_next < m_folder.entries.size()) {
            return u"Input/output error";
        }
        return std::nullopt;
    }

  private:
    const FakeDirectorySource::Folder& m_folder;
    std::size_t m_next = 0;
};

}  // namespace

FakeDirectorySource::Folder& FakeDirectorySource::Add(const std::string& path,
                                                      const std::vector<std::string>& entries) {
    Folder& folder = m_folders[path];
    for (const auto& entry : entries) {
        if (!entry.empty() && entry.back() == '/') {
            folder.entries.emplace_back(entry.substr(0, entry.size() - 1), EntryKind::Folder);
        } else {
            folder.entries.emplace_back(entry, EntryKind::File);
        }
    }
    return folder;
}

OpenedFolder FakeDirectorySource::Open(const NativeString& folder) {
    std::string key = folder;
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    m_opened.push_back(key);
    OpenedFolder opened;
    const auto found = m_folders.find(key);
    if (found == m_folders.end()) {
        opened.notFound = true;
        opened.description = u"No such file or directory";
    } else if (!found->second.openFailure.empty()) {
        opened.description = found->second.openFailure;
    } else {
        opened.listing = std::make_unique<FakeListing>(found->second);
        opened.identity = found->second.identity;
    }
    return opened;
}

}  // namespace kestrove::testing
