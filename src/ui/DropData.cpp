#include "DropData.h"

#include <algorithm>
#include <optional>
#include <string>

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QUrl>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kestrove {

namespace {

bool HasOnlyPathParts(const QUrl& url) {
    return url.isValid() && url.isLocalFile() && !url.hasQuery() && !url.hasFragment() &&
           url.userInfo().isEmpty() && url.port() == -1;
}

#ifdef _WIN32

// Qt makes the URL list of a Windows drop from the shell's list of wide paths, so the UTF-16
// path of each URL is the path as the shell gave it (a file://server/share/... URL becomes the
// UNC path).
std::optional<std::filesystem::path> LocalPath(const QUrl& url) {
    const QString path = HasOnlyPathParts(url) ? url.toLocalFile() : QString();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(path.toStdWString());
}

QList<QUrl> DraggedUrls(const QMimeData* data) {
    return data != nullptr ? data->urls() : QList<QUrl>();
}

#else

const QString kUriListFormat = QStringLiteral("text/uri-list");

// The URIs of a text/uri-list, as bytes: one a line, lines ending in CR LF (a bare LF is taken
// too), a "#" beginning a comment line. Some X programs end the list with a NUL.
QList<QByteArray> UriListEntries(QByteArray list) {
    while (list.endsWith('\0')) {
        list.chop(1);
    }
    QList<QByteArray> entries;
    for (QByteArray line : list.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (!line.isEmpty() && !line.startsWith('#')) {
            entries.append(line);
        }
    }
    return entries;
}

// QUrl reads a URI as UTF-8 text and would replace every byte that is not; so a sender's raw
// bytes outside printable ASCII are percent-encoded first, which QUrl keeps as bytes.
QUrl ParsedUri(const QByteArray& entry) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray ascii;
    ascii.reserve(entry.size());
    for (const char c : entry) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            ascii.append(c);
        } else {
            ascii.append('%').append(kHex[byte >> 4]).append(kHex[byte & 0xF]);
        }
    }
    return QUrl(QString::fromLatin1(ascii), QUrl::TolerantMode);
}

bool IsThisMachine(const QString& host) {
    if (host.isEmpty() || host == QStringLiteral("localhost")) {
        return true;
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return false;
    }
    return host.compare(QString::fromUtf8(name), Qt::CaseInsensitive) == 0;
}

// The bytes the URL's path names: its percent-encoded form decoded, without ever passing
// through text.
std::optional<std::filesystem::path> LocalPath(const QUrl& url) {
    if (!HasOnlyPathParts(url) || !IsThisMachine(url.host())) {
        return std::nullopt;
    }
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray upper = encoded.toUpper();
    // A NUL would end the path early and an encoded "/" would split a name in two: either way a
    // path to another file than the one meant.
    if (!encoded.startsWith('/') || upper.contains("%00") || upper.contains("%2F")) {
        return std::nullopt;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded);
    return std::filesystem::path(
        std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// Read from the list's own bytes: the URLs QMimeData makes of them have been through text.
QList<QUrl> DraggedUrls(const QMimeData* data) {
    QList<QUrl> urls;
    if (data != nullptr && data->hasFormat(kUriListFormat)) {
        for (const QByteArray& entry : UriListEntries(data->data(kUriListFormat))) {
            urls.append(ParsedUri(entry));
        }
    }
    return urls;
}

#endif

// A file: URL, whether or not it names a file of this machine.
bool AnyFileUrl(const QList<QUrl>& urls) {
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

}  // namespace

bool OffersFileList(const QMimeData* data) {
    // Windows hands the shell's file list over as this format too. A web browser offers its links
    // as a URL list as well, but marks them with Netscape's old link format, which Firefox and
    // Chromium still offer on X11 and no file manager does: such a drag is a link, not files.
    return data != nullptr && data->hasFormat(QStringLiteral("text/uri-list")) &&
           !data->hasFormat(QStringLiteral("_NETSCAPE_URL"));
}

bool CarriesFileList(const QMimeData* data) {
    return AnyFileUrl(DraggedUrls(data));
}

std::vector<std::filesystem::path> DroppedPaths(const QMimeData* data) {
    const QList<QUrl> urls = DraggedUrls(data);
    std::vector<std::filesystem::path> paths;
    if (!AnyFileUrl(urls)) {
        return paths;
    }
    paths.reserve(static_cast<std::size_t>(urls.size()));
    for (const QUrl& url : urls) {
        paths.push_back(LocalPath(url).value_or(std::filesystem::path()));
    }
    return paths;
}

}  // namespace kestrove
