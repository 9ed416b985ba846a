#pragma once

// A main window with the real file transform and folder walker, on files in a fresh folder,
// recording every bar width, the look at the start of each drop, and how each drop ended.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <QLabel>

#include "FormMain.h"
#include "UiTestSupport.h"

namespace kestrove::testing {

namespace fs = std::filesystem;

inline constexpr std::int32_t kKey = 105;

// What the window looks like when a drop starts (the bar is set to 1 last).
struct DropStart {
    bool tip0 = false;
    bool tip1 = false;
    Qt::CursorShape windowCursor = Qt::ArrowCursor;
    Qt::CursorShape targetCursor = Qt::ArrowCursor;
};

class DropTest : public ::testing::Test {
  protected:
    DropTest() { ui.state.CipherKey = kKey; }

    void Open(DropWork work = DropWork::FromCore()) {
        window = std::make_unique<FormMain>(
            ui.state, ui.services, [] {}, std::move(work));
        window->show();
        QObject::connect(window.get(), &FormMain::progressWidthSet, [this](int width) {
            widths.push_back(width);
            if (width == 1) {
                starts.push_back({Tip(0)->isVisible(), Tip(1)->isVisible(),
                                  window->cursor().shape(), target()->cursor().shape()});
            }
        });
        QObject::connect(window.get(), &FormMain::dropEnded, [this](int index, bool completed) {
            ended.emplace_back(index, completed);
        });
    }

    QLabel* Tip(int index) {
        return window->findChild<QLabel*>(QStringLiteral("LabTip(%1)").arg(index));
    }
    QWidget* Target(int index) {
        return window->findChild<QWidget*>(QStringLiteral("ImgGo(%1)").arg(index));
    }
    QWidget* target() { return Target(m_lastIndex); }

    bool Drop(int index, const std::vector<fs::path>& paths) {
        m_lastIndex = index;
        return DragAndDrop(Target(index), FileUriList(paths));
    }
    [[nodiscard]] bool WaitForDrops(std::size_t count) {
        return WaitUntil([&] { return ended.size() >= count; });
    }

    // A folder with n files, named so that they sort in creation order, each with its content.
    fs::path MakeFolder(const std::string& name, int n) {
        const fs::path folder = dir.path() / name;
        fs::create_directories(folder);
        for (int i = 0; i < n; ++i) {
            MakeFile(folder / ("file" + std::to_string(100 + i) + ".txt"), 50 + i);
        }
        return folder;
    }
    fs::path MakeFile(const fs::path& path, std::size_t size) {
        const auto bytes = SampleBytes(size, static_cast<unsigned>(plain.size()));
        WriteBytes(path, bytes);
        plain[path] = bytes;
        return path;
    }
    void ExpectEncrypted(const fs::path& path) {
        EXPECT_EQ(ReadBytes(path), Encrypted(plain.at(path), kKey)) << path;
    }
    void ExpectPlain(const fs::path& path) { EXPECT_EQ(ReadBytes(path), plain.at(path)) << path; }
    void ExpectPointersReset() {
        EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
        EXPECT_FALSE(Target(0)->testAttribute(Qt::WA_SetCursor));
        EXPECT_FALSE(Target(1)->testAttribute(Qt::WA_SetCursor));
    }

    UiHarness ui;
    ScratchFolder dir;
    std::map<fs::path, std::vector<std::uint8_t>> plain;
    std::unique_ptr<FormMain> window;
    std::vector<int> widths;
    std::vector<DropStart> starts;
    std::vector<std::pair<int, bool>> ended;

  private:
    int m_lastIndex = 0;
};

}  // namespace kestrove::testing
