#include "UiTestSupport.h"

#include <fstream>
#include <iterator>
#include <random>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QWidget>

#include "Keystream.h"
#include "Password.h"

namespace kestrove::testing {

void RecordingBoxes::Show(QWidget* parent, const QString& text, const QString& title,
                          BoxStyle style) {
    boxes.push_back({text, title, style, parent});
    if (onShow) {
        onShow(boxes.back());
    }
}

UiHarness::UiHarness()
    : store(std::make_shared<MemoryRegistryStore>()),
      state([store = store] { return std::make_unique<clsQvnReg>(store); }),
      services{boxes, end, [this](const QUrl& url) { openedUrls.push_back(url); }} {}

void UiHarness::StorePassword(const std::u16string& password) {
    clsQvnReg(store).SaveString(kDigestRoot, kDigestPath, kDigestValue,
                                DigestOfPassword(password).text);
}

std::optional<std::u16string> UiHarness::StoredValue() {
    return clsQvnReg(store).GetString(kDigestRoot, kDigestPath, kDigestValue);
}

namespace {

class HookedBatch final : public FileBatch {
  public:
    HookedBatch(std::unique_ptr<FileBatch> real, FileHook hook, Direction direction,
                std::stop_token stop)
        : m_real(std::move(real)),
          m_hook(std::move(hook)),
          m_direction(direction),
          m_stop(std::move(stop)) {}

    bool Add(const std::filesystem::path& path, FileFinished finished) override {
        m_hook(path, m_direction, m_stop);
        return m_real->Add(path, std::move(finished));
    }
    bool Pass(FileFinished finished) override { return m_real->Pass(std::move(finished)); }
    bool Finish() override { return m_real->Finish(); }
    void SettleLeftoversOf(const std::filesystem::path& temporary) override {
        m_real->SettleLeftoversOf(temporary);
    }

  private:
    std::unique_ptr<FileBatch> m_real;
    FileHook m_hook;
    Direction m_direction;
    std::stop_token m_stop;
};

}  // namespace

DropWork WithFileHook(DropWork work, FileHook hook) {
    work.startBatch = [start = work.startBatch, hook = std::move(hook)](
                          Direction direction, std::int32_t key, std::stop_token stop) {
        return std::unique_ptr<FileBatch>(
            std::make_unique<HookedBatch>(start(direction, key, stop), hook, direction, stop));
    };
    return work;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write a test file");
    }
}

std::vector<std::uint8_t> SampleBytes(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> bytes(n);
    std::minstd_rand random(seed + 1);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::vector<std::uint8_t> Encrypted(std::vector<std::uint8_t> plain, std::uint32_t key) {
    for (std::size_t j = 0; j < plain.size(); ++j) {
        plain[j] = static_cast<std::uint8_t>(plain[j] + KeystreamValue(j + 1, key));
    }
    return plain;
}

bool RawUriListData::hasFormat(const QString& mimeType) const {
    return mimeType == QStringLiteral("text/uri-list");
}

QStringList RawUriListData::formats() const {
    return {QStringLiteral("text/uri-list")};
}

QVariant RawUriListData::retrieveData(const QString& mimeType, QMetaType) const {
    ++m_reads;
    return hasFormat(mimeType) ? QVariant(m_list) : QVariant();
}

QByteArray FileUri(const std::filesystem::path& path) {
#ifdef _WIN32
    return QUrl::fromLocalFile(QString::fromStdWString(path.native())).toEncoded();
#else
    const std::string& bytes = path.native();
    return "file://" + QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))
                           .toPercentEncoding(QByteArrayLiteral("/"));
#endif
}

QByteArray FileUriList(const std::vector<std::filesystem::path>& paths) {
    QByteArray list;
    for (const auto& path : paths) {
        list += FileUri(path) + "\r\n";
    }
    return list;
}

QList<QUrl> FileUrls(const std::vector<std::filesystem::path>& paths) {
    QList<QUrl> urls;
    for (const auto& path : paths) {
        urls.append(QUrl::fromEncoded(FileUri(path)));
    }
    return urls;
}

bool DragAndDrop(QWidget* widget, const QList<QUrl>& urls, Qt::DropActions actions) {
    QByteArray list;
    for (const QUrl& url : urls) {
        list += url.toEncoded() + "\r\n";
    }
    return DragAndDrop(widget, list, actions);
}

bool DragAndDrop(QWidget* widget, const QByteArray& uriList, Qt::DropActions actions) {
    RawUriListData data(uriList);
    const QPoint centre = widget->rect().center();
    QDragEnterEvent enter(centre, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDragMoveEvent move(centre, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    // Decided from the offered formats alone: a source asked for its data before it learns the
    // answer can give up the drag (nautilus does).
    const bool accepted = enter.isAccepted() && move.isAccepted() && data.Reads() == 0;
    QDropEvent drop(centre, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return accepted && enter.dropAction() == Qt::CopyAction;
}

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    return QTest::qWaitFor(done, milliseconds);
}

}  // namespace kestrove::testing
