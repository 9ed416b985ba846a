#include "FailureTexts.h"

#include "TextCodec.h"

namespace kestrove {

namespace {

QString NotRegularText(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::fifo:
            return QStringLiteral("这是命名管道，不是普通文件");
        case std::filesystem::file_type::socket:
            return QStringLiteral("这是套接字，不是普通文件");
        case std::filesystem::file_type::directory:
            return QStringLiteral("这是文件夹，不是普通文件");
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return QStringLiteral("这是设备，不是普通文件");
        default:
            return QStringLiteral("不是普通文件");
    }
}

QString ProblemText(const FileFailure& failure) {
    switch (failure.problem) {
        case Problem::System:
            // A number the system has no words for still has to say something.
            return failure.description.empty()
                       ? QStringLiteral("系统错误 %1").arg(static_cast<unsigned>(failure.code))
                       : QString::fromStdU16String(failure.description);
        case Problem::ReplacedWhileOpened:
            return QStringLiteral("文件在打开时被另一个文件替换");
        case Problem::NotRegularFile:
            return NotRegularText(failure.type);
        case Problem::ChangedSinceInterrupted:
            return QStringLiteral("文件在上次中断后又被改动过");
        case Problem::DamagedCopy:
            return QStringLiteral("备份已损坏");
        case Problem::UnknownProgress:
            return QStringLiteral("无法判断上次中断时文件改写到哪里");
        case Problem::InUseElsewhere:
            return QStringLiteral("另一个程序正在改写这个文件");
        case Problem::PartnerGone:
            return QStringLiteral("同批改写的文件已不在原处");
        case Problem::ShorterThanExpected:
            return QStringLiteral("文件比预期短");
        case Problem::OutOfMemory:
            return QStringLiteral("内存不足");
        case Problem::InvalidKey:
            return QStringLiteral("密钥无效");
    }
    return {};
}

QString NoteText(const FileFailure& failure) {
    const QString where = QString::fromStdU16String(PathText(failure.copy));
    switch (failure.note) {
        case CopyNote::None:
            return {};
        case CopyNote::OldContentKeptIn:
            return QStringLiteral("（原内容保存在 %1）").arg(where);
        case CopyNote::CopyStillAt:
            return QStringLiteral("（原内容的副本仍在 %1）").arg(where);
    }
    return {};
}

}  // namespace

QString FailureMessageText(const FileFailure& failure) {
    return QStringLiteral("加密时") + ProblemText(failure) + NoteText(failure);
}

}  // namespace kestrove
