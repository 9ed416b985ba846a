#include "FileList.h"

#include <algorithm>
#include <stdexcept>

namespace kestrove {

void FileList::Clear() {
    m_folders.clear();
    m_blocks.clear();
    m_used = kBlock;
    m_files.clear();
}

void FileList::StartFolder(NativeString prefix) {
    m_folders.push_back(std::move(prefix));
}

void FileList::Add(NativeView name) {
    if (m_folders.empty() || name.size() > kBlock) {
        throw std::logic_error("FileList: a name without a folder, or longer than any name");
    }
    if (kBlock - m_used < name.size()) {
        m_blocks.push_back(std::make_unique<Char[]>(kBlock));
        m_used = 0;
    }
    std::copy(name.begin(), name.end(), m_blocks.back().get() + m_used);
    m_files.push_back({static_cast<std::uint32_t>(m_folders.size() - 1),
                       static_cast<std::uint32_t>(name.size()),
                       (m_blocks.size() - 1) * kBlock + m_used});
    m_used += name.size();
}

std::filesystem::path FileList::PathAt(std::size_t index) const {
    const File& file = m_files.at(index);
    const NativeString& prefix = m_folders[file.folder];
    const Char* name = m_blocks[file.at / kBlock].get() + file.at % kBlock;
    NativeString full;
    full.reserve(prefix.size() + file.length);
    full.append(prefix).append(name, file.length);
    return std::filesystem::path(std::move(full));
}

std::vector<std::filesystem::path> FileList::Paths() const {
    std::vector<std::filesystem::path> paths;
    paths.reserve(m_files.size());
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        paths.push_back(PathAt(i));
    }
    return paths;
}

std::size_t FileList::BytesHeld() const {
    std::size_t bytes = m_files.capacity() * sizeof(File) + m_blocks.capacity() * sizeof(void*) +
                        m_blocks.size() * kBlock * sizeof(Char) +
                        m_folders.capacity() * sizeof(NativeString);
    for (const NativeString& folder : m_folders) {
        bytes += folder.capacity() * sizeof(Char);
    }
    return bytes;
}

}  // namespace kestrove
