// Turning the bytes of a drag's URI list into dropped paths, without any file behind them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <QMimeData>

#include "DropData.h"
#include "UiTestSupport.h"

namespace kestrove::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

std::vector<fs::path> Paths(const QByteArray& list) {
    const RawUriListData data(list);
    return DroppedPaths(&data);
}

fs::path Bytes(const std::string& bytes) {
    return fs::path(bytes);
}

TEST(DropData, PathsAreTheDecodedBytesOfTheUrlsWhateverTheyAre) {
    EXPECT_THAT(Paths("file:///tmp/a/%C4%E3%BA%C3.txt\r\n"),
                ElementsAre(Bytes("/tmp/a/\xC4\xE3\xBA\xC3.txt")));
    // A sender that writes its bytes unencoded gets the same bytes, not replacement characters.
    EXPECT_THAT(Paths("file:///tmp/a/\xC4\xE3\xBA\xC3.txt\r\n"),
                ElementsAre(Bytes("/tmp/a/\xC4\xE3\xBA\xC3.txt")));
    EXPECT_THAT(Paths("file:///tmp/%E4%B8%AD%e6%96%87/%EF%BF%BD\r\n"),
                ElementsAre(Bytes("/tmp/\xE4\xB8\xAD\xE6\x96\x87/\xEF\xBF\xBD")));
    EXPECT_THAT(Paths("file:///t/100%25%20%23%3F%20/%20lead/trail%20/line%0Abreak/-rf\r\n"),
                ElementsAre(Bytes("/t/100% #? / lead/trail /line\nbreak/-rf")));
    EXPECT_THAT(Paths("file:///t/%FF%FE%80.x\r\n"), ElementsAre(Bytes("/t/\xFF\xFE\x80.x")));
    // Punctuation and spaces a sender left unencoded are taken as they stand; "+" is no space.
    EXPECT_THAT(Paths("file:///t/a [1]{2}|^`+&=;,!$'()*@:~\\\"<>.txt\r\n"),
                ElementsAre(Bytes("/t/a [1]{2}|^`+&=;,!$'()*@:~\\\"<>.txt")));
}

TEST(DropData, ListsAreReadAsFileManagersWriteThem) {
    // CR LF or bare LF, comment lines, no line end after the last, a NUL after the list.
    const char list[] = "# from a file manager\r\nfile:///a\nfile:///b\r\n\r\nfile:///c\0";
    EXPECT_THAT(Paths(QByteArray(list, sizeof list - 1)),
                ElementsAre(Bytes("/a"), Bytes("/b"), Bytes("/c")));
    // The short form some programs write, any case of the scheme, this machine named.
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_THAT(Paths("file:/k/a\r\nFILE:///k/b\r\nfile://localhost/k/c\r\nfile://" +
                      QByteArray(host) + "/k/d\r\n"),
                ElementsAre(Bytes("/k/a"), Bytes("/k/b"), Bytes("/k/c"), Bytes("/k/d")));
}

// Each of these names no file here, or would name another file than the one meant if it were
// read leniently: it becomes an empty path, which the drop treats as a path that cannot be found.
TEST(DropData, UrlsThatNameNoFileHereBecomeEmptyPaths) {
    const std::vector<QByteArray> unusable = {
        "file://elsewhere/tmp/a.txt",  // another machine, although /elsewhere/tmp/a.txt may exist
        "file:///tmp/a.txt%00.bak",    // a NUL would cut the name short
        "file:///tmp/dir%2Fa.txt",     // a "/" inside a name
        "file:///tmp/a.txt?x=1",       // a query would be dropped, leaving /tmp/a.txt
        "file:///tmp/a.txt#top",       // so would a fragment
        "file://user@localhost/tmp/a.txt",
        "file://localhost:8080/tmp/a.txt",
        "file:relative/a.txt",
        "file://",
        "http://www.brannoc.example/a.txt",
        "trash:///a.txt",
    };
    for (const QByteArray& url : unusable) {
        EXPECT_THAT(Paths("file:///ok\r\n" + url + "\r\nfile:///ok2\r\n"),
                    ElementsAre(Bytes("/ok"), fs::path(), Bytes("/ok2")))
            << url.toStdString();
    }
}

TEST(DropData, ADragWithoutAnyFileUrlCarriesNoFileList) {
    const RawUriListData web("http://www.brannoc.example/\r\ntrash:///a\r\n");
    EXPECT_FALSE(CarriesFileList(&web));
    EXPECT_TRUE(DroppedPaths(&web).empty());
    const RawUriListData comments("# file:///a\r\n");
    EXPECT_FALSE(CarriesFileList(&comments));
    QMimeData text;
    text.setText(QStringLiteral("file:///a"));
    EXPECT_FALSE(CarriesFileList(&text));
    EXPECT_FALSE(CarriesFileList(nullptr));
    // One file URL is enough; another machine's file URL is still a file list, whose path fails.
    const RawUriListData remote("file://elsewhere/a\r\n");
    EXPECT_TRUE(CarriesFileList(&remote));
    EXPECT_THAT(DroppedPaths(&remote), ElementsAre(fs::path()));
}

}  // namespace
}  // namespace kestrove::testing
