#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "FileFailure.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "UndoRecord.h"

namespace kestrove {
namespace {

TEST(TextCodec, RoundTripsChineseAndEmoji) {
    const std::u16string text = u"加密完成 a.txt \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"中"), "\xE4\xB8\xAD");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(TextCodec, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD\uFFFD");                   // cut short
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                   // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");         // surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(TemporaryName, MadeNamesAreRecognisedAndOthersAreNot) {
    const ProcessStamp maker{0x1234, 0xabcdef};
    for (int i = 0; i < 20; ++i) {
        const std::string name = MakeTemporaryName(maker);
        EXPECT_TRUE(IsOurTemporaryName(name)) << name;
        EXPECT_TRUE(IsOurTemporaryName(Utf8ToUtf16(name))) << name;
    }
    EXPECT_NE(MakeTemporaryName(maker), MakeTemporaryName(maker));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-abc.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-ABCDEFGHIJKL.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view("a.kestrove-abcdefghijkl.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-abcdefghijkl.tmpx")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view("report.tmp")));
}

TEST(TemporaryName, EachFormIsToldApartAndACopyKnowsItsFile) {
    const std::string made = MakeTemporaryName({0x4d2, 0x1f});
    const TemporaryName fresh = ParseTemporaryName(made);
    EXPECT_EQ(fresh.kind, TemporaryKind::NewContent);
    EXPECT_EQ(fresh.owner, (ProcessStamp{0x4d2, 0x1f}));
    EXPECT_EQ(made.substr(22), ".4d2-1f.new");
    for (const std::uint64_t index :
         {std::uint64_t{0}, std::uint64_t{0x2a}, std::uint64_t{0xFFFFFFFFFFFFFFFF}}) {
        const std::string undo = UndoNameOf(made, index);
        EXPECT_EQ(undo.substr(0, 22), made.substr(0, 22));
        const TemporaryName parsed = ParseTemporaryName(Utf8ToUtf16(undo));
        EXPECT_EQ(parsed.kind, TemporaryKind::Undo) << undo;
        EXPECT_EQ(parsed.fileIndex, index) << undo;
        const TemporaryName committed = ParseTemporaryName(CommittedNameOf(undo));
        EXPECT_EQ(committed.kind, TemporaryKind::Committed) << undo;
        EXPECT_EQ(committed.fileIndex, index) << undo;
    }
    EXPECT_EQ(UndoNameOf(".kestrove-abcdefghijkl.1-2.new", 0x1f), ".kestrove-abcdefghijkl.1f.undo");
    EXPECT_EQ(CommittedNameOf(".kestrove-abcdefghijkl.1f.undo"), ".kestrove-abcdefghijkl.1f.done");
    // A journal names its maker where a single file's undo file names the file.
    const std::string journal = JournalNameOf(made);
    EXPECT_EQ(journal, made.substr(0, 22) + ".4d2-1f.undo");
    const TemporaryName parsedJournal = ParseTemporaryName(journal);
    EXPECT_EQ(parsedJournal.kind, TemporaryKind::Journal);
    EXPECT_EQ(parsedJournal.owner, (ProcessStamp{0x4d2, 0x1f}));
    EXPECT_EQ(ParseTemporaryName(CommittedNameOf(journal)).kind, TemporaryKind::CommittedJournal);
    // What earlier versions left: new content without its maker, a copy without a record, and
    // either of the two untold.
    const TemporaryName unnamed =
        ParseTemporaryName(std::string_view(".kestrove-abcdefghijkl.new"));
    EXPECT_EQ(unnamed.kind, TemporaryKind::NewContent);
    EXPECT_FALSE(unnamed.owner);
    const TemporaryName legacy =
        ParseTemporaryName(std::string_view(".kestrove-abcdefghijkl.1f.old"));
    EXPECT_EQ(legacy.kind, TemporaryKind::LegacyBackup);
    EXPECT_EQ(legacy.fileIndex, 0x1fu);
    EXPECT_EQ(ParseTemporaryName(std::string_view(".kestrove-abcdefghijkl.tmp")).kind,
              TemporaryKind::Unmarked);
    // Only the forms written: lower-case hex without a leading zero, at most 16 digits.
    for (const char* other :
         {".kestrove-abcdefghijkl.01f.undo", ".kestrove-abcdefghijkl.1F.done",
          ".kestrove-abcdefghijkl..old", ".kestrove-abcdefghijkl.10000000000000000.undo",
          ".kestrove-abcdefghijkl.1f.new", ".kestrove-abcdefghijkl.1f.old.txt",
          ".kestrove-abcdefghijkl-1f.old", ".kestrove-abcdefghijk.new",
          ".kestrove-abcdefghijkl.1-.new", ".kestrove-abcdefghijkl.-2.new",
          ".kestrove-abcdefghijkl.1-2-3.new", ".kestrove-abcdefghijkl.1-2.old",
          ".kestrove-abcdefghijkl.1f.tmp"}) {
        EXPECT_EQ(ParseTemporaryName(std::string_view(other)).kind, TemporaryKind::None) << other;
    }
}

TEST(UndoRecord, ReadsBackWhatWasWrittenAndRefusesAnythingElse) {
    const UndoRecord record{Direction::Decrypt, 165, 0x123456789, 0xfedcba9876543210, {77, 99}};
    const UndoRecordBytes bytes = EncodeUndoRecord(record);
    EXPECT_EQ(DecodeUndoRecord(bytes), record);
    // Every single changed byte is noticed.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        UndoRecordBytes damaged = bytes;
        damaged[i] ^= 0x01;
        EXPECT_FALSE(DecodeUndoRecord(damaged)) << "byte " << i;
    }
    EXPECT_FALSE(DecodeUndoRecord(UndoRecordBytes{}));
    // Keys the transform does not accept are not believed either.
    EXPECT_FALSE(DecodeUndoRecord(EncodeUndoRecord({Direction::Encrypt, 0, 1, 1, {}})));
    EXPECT_FALSE(DecodeUndoRecord(EncodeUndoRecord({Direction::Encrypt, 300, 1, 1, {}})));
}

}  // namespace
}  // namespace kestrove

#ifndef _WIN32
namespace kestrove {
namespace {

// The system's words as the program's locale gives them: here the "C" locale's English.
TEST(SystemErrorText, GivesTheSystemsWordsInTheProgramsLocale) {
    EXPECT_EQ(SystemErrorText(ENOENT), u"No such file or directory");
    EXPECT_EQ(SystemErrorText(EACCES), u"Permission denied");
}

}  // namespace
}  // namespace kestrove
#endif
