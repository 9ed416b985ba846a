#include "FolderWalker.h"

#include <iterator>
#include <unordered_set>
#include <utility>

#include "DirectorySource.h"
#include "NamePattern.h"
#include "TemporaryName.h"

namespace kestrove {

namespace {

using PathChar = std::filesystem::path::value_type;

bool IsSeparator(PathChar c) {
#ifdef _WIN32
    return c == L'\\' || c == L'/';
#else
    return c == '/';
#endif
}

// The folder with exactly the separator that names are appended after; one already there is
// kept, so "F" and "F/" produce the same paths.
NativeString PrefixOf(const NativeString& folder) {
    NativeString prefix;
    prefix.reserve(folder.size() + 1);
    prefix.append(folder);
    if (prefix.empty() || !IsSeparator(prefix.back())) {
        prefix.push_back(std::filesystem::path::preferred_separator);
    }
    return prefix;
}

NativeString Joined(const NativeString& prefix, NativeView name) {
    NativeString joined;
    joined.reserve(prefix.size() + name.size());
    joined.append(prefix).append(name);
    return joined;
}

NativeString TrimmedOfSpaces(const NativeString& text) {
    const auto first = text.find_first_not_of(PathChar(' '));
    if (first == NativeString::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(PathChar(' '));
    return text.substr(first, last - first + 1);
}

bool IsSelectedFile(const ListedEntry& entry, const NamePattern& pattern) {
    return entry.kind == EntryKind::File && !IsOurTemporaryName(entry.name) &&
           pattern.MatchesNative(entry.name);
}

struct IdentityHash {
    std::size_t operator()(const FolderIdentity& id) const noexcept {
        return std::hash<std::uint64_t>{}(id.inode * 0x9E3779B97F4A7C15ULL ^ id.device);
    }
};

// One walk: the folders of a level are listed in order, each exactly once, and the subfolders
// they hold become the next level.
class Walk {
  public:
    Walk(std::u16string_view pattern, FileList& results, const WalkObserver& observer,
         DirectorySource& source)
        : m_pattern(pattern), m_results(results), m_observer(observer), m_source(source) {}

    WalkEnd Run(const std::vector<std::filesystem::path>& folders) {
        std::vector<NativeString> level;
        level.reserve(folders.size());
        for (const auto& folder : folders) {
            level.push_back(folder.native());
        }
        bool starting = true;
        while (!level.empty()) {
            m_nextLevel.clear();
            for (NativeString& folder : level) {
                OpenedFolder opened = starting ? OpenStartingFolder(folder) : m_source.Open(folder);
                if (!opened.listing) {
                    Report(folder, std::move(opened.description));
                    continue;
                }
                // A folder reached again through a link is not listed again; this also ends
                // every link cycle.
                if (opened.identity && !m_visited.insert(*opened.identity).second) {
                    continue;
                }
                if (!List(folder, *opened.listing)) {
                    return WalkEnd::Stopped;
                }
            }
            level.swap(m_nextLevel);
            starting = false;
        }
        return WalkEnd::Completed;
    }

  private:
    // A dropped path may carry stray spaces around it, but a folder whose real name begins or
    // ends with a space must still be found: spaces are dropped only when the path as given
    // names nothing.
    OpenedFolder OpenStartingFolder(NativeString& folder) {
        OpenedFolder opened = m_source.Open(folder);
        if (opened.listing || !opened.notFound) {
            return opened;
        }
        NativeString trimmed = TrimmedOfSpaces(folder);
        if (trimmed == folder) {
            return opened;
        }
        folder = std::move(trimmed);
        return m_source.Open(folder);
    }

    // One pass over the folder gives both its files, in the order listed, and its subfolders
    // for the next level. Returns false when the observer asked to stop.
    bool List(const NativeString& folder, FolderListing& listing) {
        const NativeString prefix = PrefixOf(folder);
        bool started = false;
        ListedEntry entry;
        while (listing.Next(entry)) {
            if (entry.kind == EntryKind::Folder) {
                if (!entry.name.empty() && entry.name.front() != PathChar('.')) {
                    m_nextLevel.push_back(Joined(prefix, entry.name));
                }
            } else if (IsOurTemporaryName(entry.name)) {
                if (m_observer.onTemporary) {
                    m_observer.onTemporary(std::filesystem::path(Joined(prefix, entry.name)));
                }
            } else if (m_pattern.MatchesNative(entry.name)) {
                if (!started) {
                    m_results.StartFolder(prefix);
                    started = true;
                }
                m_results.Add(entry.name);
            }
            if (m_observer.onEntry && !m_observer.onEntry()) {
                return false;
            }
        }
        if (auto failure = listing.Failure()) {
            Report(folder, std::move(*failure));
        }
        return true;
    }

    void Report(const NativeString& folder, std::u16string description) {
        if (m_observer.onFailure) {
            m_observer.onFailure(
                FileFailure{std::filesystem::path(folder), std::move(description)});
        }
    }

    NamePattern m_pattern;
    FileList& m_results;
    const WalkObserver& m_observer;
    DirectorySource& m_source;
    std::unordered_set<FolderIdentity, IdentityHash> m_visited;
    std::vector<NativeString> m_nextLevel;
};

}  // namespace

WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, std::vector<std::filesystem::path>& results,
                           bool reset, const WalkObserver& observer) {
    return CollectFolderFiles(folders, pattern, results, reset, observer,
                              PlatformDirectorySource());
}

WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, std::vector<std::filesystem::path>& results,
                           bool reset, const WalkObserver& observer, DirectorySource& source) {
    if (reset) {
        results.clear();
    }
    FileList found;
    const WalkEnd end = Walk(pattern, found, observer, source).Run(folders);
    std::vector<std::filesystem::path> paths = found.Paths();
    results.insert(results.end(), std::make_move_iterator(paths.begin()),
                   std::make_move_iterator(paths.end()));
    return end;
}

WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, FileList& results, bool reset,
                           const WalkObserver& observer) {
    return CollectFolderFiles(folders, pattern, results, reset, observer,
                              PlatformDirectorySource());
}

WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, FileList& results, bool reset,
                           const WalkObserver& observer, DirectorySource& source) {
    if (reset) {
        results.Clear();
    }
    return Walk(pattern, results, observer, source).Run(folders);
}

void CollectFilesInFolder(const std::filesystem::path& folder, std::u16string_view pattern,
                          std::vector<std::filesystem::path>& results) {
    OpenedFolder opened = PlatformDirectorySource().Open(folder.native());
    if (!opened.listing) {
        return;
    }
    const NamePattern matcher(pattern);
    const NativeString prefix = PrefixOf(folder.native());
    ListedEntry entry;
    while (opened.listing->Next(entry)) {
        if (IsSelectedFile(entry, matcher)) {
            results.emplace_back(Joined(prefix, entry.name));
        }
    }
}

std::u16string FileNameOfPath(std::u16string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        const char16_t c = path[i - 1];
#ifdef _WIN32
        const bool separator = c == u'\\' || c == u'/';
#else
        const bool separator = c == u'/';
#endif
        if (separator) {
            return std::u16string(path.substr(i));
        }
    }
    return std::u16string(path);
}

bool NameMatchesPattern(std::u16string_view name, std::u16string_view pattern) {
    return NamePattern(pattern).Matches(name);
}

}  // namespace kestrove
