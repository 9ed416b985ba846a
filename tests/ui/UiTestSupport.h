#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QString>
#include <QUrl>

#include "DropJobRunner.h"
#include "MemoryRegistryStore.h"
#include "RunState.h"
#include "ScratchFolder.h"
#include "UiServices.h"

class QWidget;

namespace kestrove::testing {

// Records every message box instead of showing it; onShow may act while "the box is open".
class RecordingBoxes final : public MessageBoxes {
  public:
    struct Box {
        QString text;
        QString title;
        BoxStyle style = BoxStyle::Plain;
        QWidget* parent = nullptr;
    };
    void Show(QWidget* parent, const QString& text, const QString& title, BoxStyle style) override;

    std::vector<Box> boxes;
    std::function<void(const Box&)> onShow;
};

class RecordingEnd final : public ProgramEnd {
  public:
    void EndProgram() override { ++count; }
    int count = 0;
};

// A run state over an in-memory store, and services that record instead of acting.
class UiHarness {
  public:
    UiHarness();

    // Stores the digest of password as if an earlier run had set it.
    void StorePassword(const std::u16string& password);
    [[nodiscard]] std::optional<std::u16string> StoredValue();

    std::shared_ptr<MemoryRegistryStore> store;
    RunState state;
    RecordingBoxes boxes;
    RecordingEnd end;
    std::vector<QUrl> openedUrls;
    UiServices services;
};

[[nodiscard]] std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// Bytes 0, 1, 2, ... of length n, varied by seed.
[[nodiscard]] std::vector<std::uint8_t> SampleBytes(std::size_t n, unsigned seed);
// What the file transform makes of plain under key.
[[nodiscard]] std::vector<std::uint8_t> Encrypted(std::vector<std::uint8_t> plain,
                                                  std::uint32_t key);

// Drag data as the platform hands a drop over: these very text/uri-list bytes. (QMimeData's own
// setData would parse them into URLs, through text.)
class RawUriListData final : public QMimeData {
  public:
    explicit RawUriListData(QByteArray list) : m_list(std::move(list)) {}
    [[nodiscard]] bool hasFormat(const QString& mimeType) const override;
    [[nodiscard]] QStringList formats() const override;
    // How often the list was read.
    [[nodiscard]] int Reads() const { return m_reads; }

  protected:
    [[nodiscard]] QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    QByteArray m_list;
    mutable int m_reads = 0;
};

// The file URL of path as a file manager writes it: on POSIX every byte of the name that is not
// plain ASCII percent-encoded, whatever the bytes are; on Windows the UTF-8 of the wide name.
[[nodiscard]] QByteArray FileUri(const std::filesystem::path& path);
// A text/uri-list of the paths' file URLs, each line ending in CR LF.
[[nodiscard]] QByteArray FileUriList(const std::vector<std::filesystem::path>& paths);
[[nodiscard]] QList<QUrl> FileUrls(const std::vector<std::filesystem::path>& paths);

// Drags a text/uri-list (these very bytes) over widget and drops it there the way the platform
// does; returns whether the target accepted the drag without reading the list before the drop.
bool DragAndDrop(QWidget* widget, const QByteArray& uriList,
                 Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction);
bool DragAndDrop(QWidget* widget, const QList<QUrl>& urls,
                 Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction);

// The real work of a drop, with hook called on the worker for every file given to the drop's run
// of files, just before it is given.
using FileHook = std::function<void(const std::filesystem::path&, Direction, std::stop_token)>;
[[nodiscard]] DropWork WithFileHook(DropWork work, FileHook hook);

// Processes events until done() holds; false after the time limit.
[[nodiscard]] bool WaitUntil(const std::function<bool()>& done, int milliseconds = 20000);

}  // namespace kestrove::testing
