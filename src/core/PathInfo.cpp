#include "PathInfo.h"

namespace kestrove {

std::u16string NotRegularFileText(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::fifo:
            return u"这是命名管道，不是普通文件";
        case std::filesystem::file_type::socket:
            return u"这是套接字，不是普通文件";
        case std::filesystem::file_type::directory:
            return u"这是文件夹，不是普通文件";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return u"这是设备，不是普通文件";
        default:
            return u"不是普通文件";
    }
}

}  // namespace kestrove
