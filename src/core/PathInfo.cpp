#include "PathInfo.h"

#include <cerrno>
#include <system_error>

#include "TextCodec.h"

namespace kestrove {

namespace {

std::u16string ErrorCodeText(const std::error_code& error) {
    if (!error) {
        return SystemErrorText(ENOENT);
    }
#ifdef _WIN32
    // The library reports Windows error numbers in the system category, C library numbers in
    // the generic one.
    if (error.category() == std::system_category()) {
        return SystemErrorText(error.value());
    }
    return Utf8ToUtf16(error.message());
#else
    return SystemErrorText(error.value());
#endif
}

}  // namespace

PathInfo ClassifyPath(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    switch (status.type()) {
        case std::filesystem::file_type::directory:
            return {PathKind::Folder, {}};
        case std::filesystem::file_type::regular:
            return {PathKind::RegularFile, {}};
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            return {PathKind::Missing, ErrorCodeText(error)};
        default:
            return {PathKind::Other, NotRegularFileText(status.type())};
    }
}

std::u16string NotRegularFileText(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::fifo:
            return u"这是命名管道，不是普通文件";
        case std::filesystem::file_type::socket:
            return u"这是套接字，不是普通文件";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return u"这是设备，不是普通文件";
        default:
            return u"不是普通文件";
    }
}

}  // namespace kestrove
