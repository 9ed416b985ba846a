// Which drags the targets take, from the formats they offer alone: the formats below are what
// the program's Qt reported for real drags (a file from each file manager, a link from each
// browser), on X11 and on Wayland.
#include <gtest/gtest.h>

#include <QMimeData>
#include <QStringList>

#include "DropData.h"

namespace kestrove::testing {
namespace {

// A drag that offers these formats and fails the test if its data is read.
class OfferedFormats final : public QMimeData {
  public:
    explicit OfferedFormats(const QString& formats) : m_formats(formats.split(QLatin1Char('|'))) {}
    [[nodiscard]] QStringList formats() const override { return m_formats; }
    [[nodiscard]] bool hasFormat(const QString& mimeType) const override {
        return m_formats.contains(mimeType);
    }

  protected:
    [[nodiscard]] QVariant retrieveData(const QString& mimeType, QMetaType) const override {
        ADD_FAILURE() << "read " << mimeType.toStdString() << " before the drop";
        return {};
    }

  private:
    QStringList m_formats;
};

bool Offers(const char* formats) {
    const OfferedFormats data(QString::fromLatin1(formats));
    return OffersFileList(&data);
}

TEST(DropFormats, FilesFromEveryFileManagerAreTaken) {
    EXPECT_TRUE(Offers("text/uri-list|text/plain;charset=utf-8"));  // nautilus
    EXPECT_TRUE(Offers("text/uri-list"));                           // thunar, X11
    EXPECT_TRUE(Offers("text/uri-list|DELETE"));                    // thunar, Wayland
    EXPECT_TRUE(
        Offers("text/uri-list|application/x-fmlist-ptr|text/plain|COMPOUND_TEXT|"
               "text/plain;charset=utf-8"));  // pcmanfm
    EXPECT_TRUE(
        Offers("x-special/mate-icon-list|text/uri-list|text/plain|COMPOUND_TEXT|"
               "text/plain;charset=utf-8"));  // caja
    EXPECT_TRUE(
        Offers("x-special/gnome-icon-list|text/uri-list|text/plain|COMPOUND_TEXT|"
               "text/plain;charset=utf-8"));                                     // nemo
    EXPECT_TRUE(Offers("text/uri-list|text/plain|application/x-kde4-urilist"));  // dolphin
}

TEST(DropFormats, BrowserLinksAndTextAreRefused) {
    // On X11 both browsers offer a link as a URL list too, beside Netscape's link format.
    EXPECT_FALSE(
        Offers("text/uri-list|_NETSCAPE_URL|text/x-moz-url-data|text/x-moz-url-desc|"
               "application/x-moz-custom-clipdata|text/_moz_htmlcontext|"
               "text/_moz_htmlinfo|text/html|text/plain|text/plain;charset=utf-8"));
    EXPECT_FALSE(
        Offers("text/uri-list|text/plain|_NETSCAPE_URL|text/html|"
               "chromium/x-renderer-taint|chromium/x-drag-id"));
    // On Wayland they offer no URL list at all.
    EXPECT_FALSE(
        Offers("text/x-moz-url|_NETSCAPE_URL|text/x-moz-url-data|text/x-moz-url-desc|"
               "application/x-moz-custom-clipdata|text/_moz_htmlcontext|"
               "text/_moz_htmlinfo|text/html|text/plain|text/plain;charset=utf-8|"
               "UTF8_STRING|STRING|DELETE"));
    EXPECT_FALSE(Offers("text/x-moz-url|text/html|text/plain;charset=utf-8|text/plain"));
    EXPECT_FALSE(Offers("text/plain|UTF8_STRING"));
    EXPECT_FALSE(OffersFileList(nullptr));
}

}  // namespace
}  // namespace kestrove::testing
