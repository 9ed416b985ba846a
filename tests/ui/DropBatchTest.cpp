// A folder drop through the group commit, with failures in the middle of a batch and at its
// edges: the bar and the boxes come exactly as they would one file after another, each box before
// any later file takes its new content; a quit while a box is open leaves the rest unrenamed.
#include <gtest/gtest.h>

#include <set>

#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "DropJobRunner.h"
#include "FileTransformDetail.h"
#include "FolderWalker.h"
#include "RecordingDropView.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "UiTestSupport.h"

namespace kestrove::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kKey = 66;
constexpr int kFiles = 11;

class BatchedDrop : public ::testing::Test {
  protected:
    void SetUp() override {
        m_view.onBox = [this] { CheckAtBox(); };
        m_folder = m_dir.path() / "F";
        fs::create_directory(m_folder);
        for (int i = 0; i < kFiles; ++i) {
            const fs::path file = m_folder / ("file" + std::to_string(i) + ".bin");
            WriteBytes(file, SampleBytes(700 + static_cast<std::size_t>(i) * 13, 40 + i));
        }
        // The walk's own order, which is the listing's.
        (void)CollectFolderFiles({m_folder}, u"*.*", m_order, true);
        for (const fs::path& file : m_order) {
            m_plain.push_back(ReadBytes(file));
        }
    }

    // Batches of four; files whose walk index is in refused fail when renamed, files in
    // readOnly when their new content is to be written.
    DropWork Work(std::set<int> refused, const std::set<int>& readOnly) {
        for (const int i : readOnly) {
            fs::permissions(m_order[static_cast<std::size_t>(i)],
                            fs::perms::owner_read | fs::perms::group_read);
        }
        detail::BatchSettings settings;
        settings.limits.files = 4;
        settings.smallUpTo = 0;  // renamed into place, each of them, so that renames can fail
        settings.beforePlace = [this, refused](const fs::path& path) -> platform::IoStatus {
            if (refused.count(IndexOf(path)) != 0) {
                return platform::IoError{u"refused"};
            }
            return std::nullopt;
        };
        DropWork work = DropWork::FromCore();
        work.startBatch = [settings](Direction d, std::int32_t key, std::stop_token stop) {
            return std::unique_ptr<FileBatch>(
                std::make_unique<BatchedTransform>(d, key, std::move(stop), settings));
        };
        return work;
    }

    int IndexOf(const fs::path& path) const {
        return static_cast<int>(std::find(m_order.begin(), m_order.end(), path) - m_order.begin());
    }
    bool IsNew(std::size_t i) const { return ReadBytes(m_order[i]) == Encrypted(m_plain[i], kKey); }
    bool IsOld(std::size_t i) const { return ReadBytes(m_order[i]) == m_plain[i]; }

    // A box is open for the file after the last width shown: no later file may be new yet.
    void CheckAtBox() {
        std::size_t widths = 0;
        for (const std::string& event : m_view.Events()) {
            widths += event.rfind("width ", 0) == 0 ? 1 : 0;
        }
        for (std::size_t j = widths + 1; j < m_order.size(); ++j) {
            EXPECT_TRUE(IsOld(j)) << "file " << j << " while the box of file " << widths
                                  << " is open";
        }
    }

    std::vector<std::string> OurLeftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            if (IsOurTemporaryName(entry.path().filename().string())) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    ScratchFolder m_dir;
    fs::path m_folder;
    std::vector<fs::path> m_order;
    std::vector<std::vector<std::uint8_t>> m_plain;
    RecordingDropView m_view;
};

TEST_F(BatchedDrop, WidthsAndBoxesComeAsOneFileAfterAnother) {
    // 0 and 3 are the edges of the first batch, 5 the middle of the second, 10 the last file.
    const std::set<int> refused{3, 5};
    const std::set<int> readOnly{0, 10};
    DropJobRunner runner(m_view, Work(refused, readOnly));
    runner.Enqueue({0, {m_folder}, kKey});
    ASSERT_TRUE(m_view.WaitFor("end 0"));
    runner.Stop();

    // What the platform says about a read-only file, found on one.
    const fs::path sample = m_dir.path() / "sample.bin";
    WriteBytes(sample, SampleBytes(10, 1));
    fs::permissions(sample, fs::perms::owner_read);
    const FileOutcome refusal = EncryptFile(sample, kKey);
    ASSERT_TRUE(refusal.failure.has_value());
    std::vector<std::string> expected{"begin 0"};
    for (int i = 0; i < kFiles; ++i) {
        if (refused.count(i) != 0) {
            expected.push_back("failure refused");
        } else if (readOnly.count(i) != 0) {
            expected.push_back("failure " + Utf16ToUtf8(refusal.failure->description));
        }
        expected.push_back("width " + std::to_string(ProgressWidth(i + 1, kFiles, kBarWidth)));
    }
    expected.push_back("end 0");
    EXPECT_EQ(m_view.Events(), expected);
    for (std::size_t i = 0; i < m_order.size(); ++i) {
        const bool failed =
            refused.count(static_cast<int>(i)) + readOnly.count(static_cast<int>(i));
        EXPECT_TRUE(failed ? IsOld(i) : IsNew(i)) << i;
    }
    EXPECT_TRUE(OurLeftovers().empty());
}

// The quit label while the box of file 5 is open: files 6 and 7, staged in the same batch, never
// take their new content, and their temporary files go.
TEST_F(BatchedDrop, QuitWhileABoxIsOpenLeavesTheRestOfTheBatchOld) {
    m_view.holdBoxes = true;
    DropJobRunner runner(m_view, Work({5}, {}));
    runner.Enqueue({0, {m_folder}, kKey});
    ASSERT_TRUE(m_view.WaitFor("failure refused"));
    runner.Stop();
    for (std::size_t i = 0; i < m_order.size(); ++i) {
        EXPECT_TRUE(i < 5 ? IsNew(i) : IsOld(i)) << i;
    }
    EXPECT_TRUE(OurLeftovers().empty());
    const std::vector<std::string> events = m_view.Events();
    EXPECT_EQ(events.back(), "failure refused");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("width", 0) == 0; }),
              5);
}

}  // namespace
}  // namespace kestrove::testing
