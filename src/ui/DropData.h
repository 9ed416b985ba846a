#pragma once

#include <filesystem>
#include <vector>

#include <QString>

class QMimeData;

namespace kestrove {

// Whether a drag carries a list of files: URLs, every one of them a local file.
[[nodiscard]] bool CarriesFileList(const QMimeData* data);

// The dropped paths in the order of the list; empty when the drag carries no file list.
[[nodiscard]] std::vector<std::filesystem::path> DroppedPaths(const QMimeData* data);

[[nodiscard]] std::filesystem::path PathFromText(const QString& text);
[[nodiscard]] QString TextFromPath(const std::filesystem::path& path);

}  // namespace kestrove
