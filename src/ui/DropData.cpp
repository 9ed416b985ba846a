#include "DropData.h"

#include <QMimeData>
#include <QUrl>

#include "TextCodec.h"

namespace kestrove {

bool CarriesFileList(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return false;
    }
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) {
        return false;
    }
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
            return false;
        }
    }
    return true;
}

std::vector<std::filesystem::path> DroppedPaths(const QMimeData* data) {
    std::vector<std::filesystem::path> paths;
    if (!CarriesFileList(data)) {
        return paths;
    }
    const QList<QUrl> urls = data->urls();
    paths.reserve(static_cast<std::size_t>(urls.size()));
    for (const QUrl& url : urls) {
        paths.push_back(PathFromText(url.toLocalFile()));
    }
    return paths;
}

std::filesystem::path PathFromText(const QString& text) {
    return std::filesystem::path(text.toStdU16String());
}

QString TextFromPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(PathText(path));
}

}  // namespace kestrove
