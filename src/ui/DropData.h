#pragma once

#include <filesystem>
#include <vector>

class QMimeData;

namespace kestrove {

// Whether a drag offers a list of files (a URL list, not a browser's link), judged from the
// formats it offers alone.
// Its data is not read: on X11 and Wayland reading it means asking the drag source, and a source
// that has to answer that before it learns whether the drag is accepted (nautilus) gives up a
// drag released soon after it entered. Used while the drag moves over a target.
[[nodiscard]] bool OffersFileList(const QMimeData* data);

// Whether a drag carries a list of files: a URL list holding at least one file URL. Other
// entries of that list are dropped paths that fail on their own (see DroppedPaths). Reads the
// data: for the drop itself.
[[nodiscard]] bool CarriesFileList(const QMimeData* data);

// The dropped paths in the order of the list; empty when the drag carries no file list.
//
// A path is exactly what its URL names, never a text conversion of it: outside Windows the
// percent-decoded bytes of the URL's path, valid UTF-8 or not (file names there are bytes); on
// Windows the UTF-16 path. An entry that names no file of this machine (another scheme, another
// host) or no path the system can hold (a NUL byte or an encoded "/" in it, a query or fragment
// behind it) gives an empty path in its place: it names nothing, so the drop stops there as at a
// path that has vanished, and it can never reach another file.
[[nodiscard]] std::vector<std::filesystem::path> DroppedPaths(const QMimeData* data);

}  // namespace kestrove
