// The words of the box about a failed file: "加密时", then what went wrong, then where a copy of
// the old content is, where that matters.
#include <gtest/gtest.h>

#include <set>

#include "FailureTexts.h"

namespace kestrove::testing {
namespace {

namespace fs = std::filesystem;

QString TextOf(const Failure& failure) {
    return FailureMessageText(FileFailure::At("/x/a.txt", failure));
}

TEST(FailureTexts, TheSystemsWordsFollowThePrefixDirectly) {
    EXPECT_EQ(TextOf(Failure{u"Permission denied", 13}), QStringLiteral("加密时Permission denied"));
    // A number the system has no words for.
    EXPECT_EQ(TextOf(Failure{u"", 1234}), QStringLiteral("加密时系统错误 1234"));
}

TEST(FailureTexts, EachKindOfProblemHasItsWords) {
    EXPECT_EQ(TextOf(Failure::NotRegular(fs::file_type::fifo)),
              QStringLiteral("加密时这是命名管道，不是普通文件"));
    EXPECT_EQ(TextOf(Failure::NotRegular(fs::file_type::socket)),
              QStringLiteral("加密时这是套接字，不是普通文件"));
    EXPECT_EQ(TextOf(Failure::NotRegular(fs::file_type::directory)),
              QStringLiteral("加密时这是文件夹，不是普通文件"));
    EXPECT_EQ(TextOf(Failure::NotRegular(fs::file_type::block)),
              QStringLiteral("加密时这是设备，不是普通文件"));
    EXPECT_EQ(TextOf(Failure::Of(Problem::ReplacedWhileOpened)),
              QStringLiteral("加密时文件在打开时被另一个文件替换"));
    EXPECT_EQ(TextOf(Failure::Of(Problem::InUseElsewhere)),
              QStringLiteral("加密时另一个程序正在改写这个文件"));
    EXPECT_EQ(TextOf(Failure::Of(Problem::OutOfMemory)), QStringLiteral("加密时内存不足"));
    EXPECT_EQ(TextOf(Failure::Of(Problem::InvalidKey)), QStringLiteral("加密时密钥无效"));
    // Every kind says something of its own.
    std::set<QString> texts;
    for (int kind = 0; kind <= static_cast<int>(Problem::InvalidKey); ++kind) {
        texts.insert(TextOf(Failure::Of(static_cast<Problem>(kind))));
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(Problem::InvalidKey) + 1);
}

TEST(FailureTexts, WhereTheOldContentIsKeptIsSaid) {
    const fs::path copy = fs::path("/data") / ".kestrove-abcdefghijkl.1f.undo";
    EXPECT_EQ(
        TextOf(
            Failure::Of(Problem::ChangedSinceInterrupted).With(CopyNote::OldContentKeptIn, copy)),
        QStringLiteral("加密时文件在上次中断后又被改动过（原内容保存在 %1）")
            .arg(QString::fromStdU16String(copy.u16string())));
    EXPECT_EQ(TextOf(Failure{u"Input/output error", 5}.With(CopyNote::CopyStillAt, copy)),
              QStringLiteral("加密时Input/output error（原内容的副本仍在 %1）")
                  .arg(QString::fromStdU16String(copy.u16string())));
}

}  // namespace
}  // namespace kestrove::testing
