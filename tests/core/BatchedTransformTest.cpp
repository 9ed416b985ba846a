// Group commit on real files: the order in which files take their new content and are told about,
// with failures injected at every step of a batch and at its edges, stops, and the batch limits.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <stop_token>

#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "FaultInjection.h"
#include "FileTransformDetail.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::BatchSettings;
using detail::WriteStage;
using platform::IoError;
using platform::IoStatus;
using testing::Bytes;
using testing::OurTemporaryNames;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr std::int32_t kKey = 77;

// "f<n>.bin". Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string at
// -O2.
std::string NumberedName(int n) {
    std::string name = "f";
    name.append(std::to_string(n)).append(".bin");
    return name;
}

class BatchRun : public ::testing::Test {
  protected:
    void MakeFiles(int count, std::size_t size = 1000) {
        for (int i = 0; i < count; ++i) {
            m_files.push_back(m_folder / NumberedName(100 + i));
            m_plain.push_back(RandomBytes(size + static_cast<std::size_t>(i), 500 + i));
            WriteBytes(m_files.back(), m_plain.back());
        }
        m_settings.limits.files = 4;
        // These cases are about files that take their new content by a rename; small files
        // written over in place have cases of their own.
        m_settings.smallUpTo = 0;
        m_settings.onCommit = [this](std::size_t files, std::uint64_t bytes) {
            m_commits.emplace_back(files, bytes);
        };
    }

    bool IsNew(std::size_t i) const {
        return ReadBytes(m_files[i]) == ReferenceEncrypt(m_plain[i], kKey);
    }
    bool IsOld(std::size_t i) const { return ReadBytes(m_files[i]) == m_plain[i]; }

    // Records what file i is told, and checks what the files hold at that moment: a failure is
    // told before any later file has its new content, and every earlier file that was done has
    // it. (A success is told once its folder is durable, which may be after later files of its
    // batch were renamed.)
    FileFinished Told(std::size_t i, bool goOn = true) {
        return [this, i, goOn](const FileOutcome& outcome) {
            std::string event = std::to_string(i);
            if (outcome.ok()) {
                event += " done";
                EXPECT_TRUE(IsNew(i)) << i;
            } else {
                event += outcome.contentReplaced ? " failed after: " : " failed: ";
                event += std::string(outcome.failure->description.begin(),
                                     outcome.failure->description.end());
                EXPECT_EQ(IsNew(i), outcome.contentReplaced) << i;
                for (std::size_t j = i + 1; j < m_files.size() && !outcome.contentReplaced; ++j) {
                    EXPECT_TRUE(IsOld(j)) << "file " << j << " when " << i << " is told";
                }
            }
            for (std::size_t j = 0; j < i; ++j) {
                const bool toldNew = m_events[j].ends_with("done") ||
                                     m_events[j].find("failed after") != std::string::npos;
                EXPECT_EQ(IsNew(j), toldNew) << j << " when " << i;
            }
            m_events.push_back(event);
            return goOn;
        };
    }

    bool RunAll(std::stop_token stop = {}, std::size_t endAt = SIZE_MAX) {
        BatchedTransform batch(Direction::Encrypt, kKey, std::move(stop), m_settings);
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            if (!batch.Add(m_files[i], Told(i, i != endAt))) {
                return false;
            }
        }
        return batch.Finish();
    }

    std::vector<std::string> DoneUpTo(std::size_t last) {
        std::vector<std::string> events;
        for (std::size_t i = 0; i <= last; ++i) {
            events.push_back(std::to_string(i) + " done");
        }
        return events;
    }

    ScratchFolder m_folder;
    std::vector<fs::path> m_files;
    std::vector<Bytes> m_plain;
    BatchSettings m_settings;
    std::vector<std::string> m_events;
    std::vector<std::pair<std::size_t, std::uint64_t>> m_commits;
};

TEST_F(BatchRun, EveryFileInOrderInBatchesOfTheLimit) {
    MakeFiles(10);
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_events, DoneUpTo(9));
    ASSERT_EQ(m_commits.size(), 3u);
    EXPECT_EQ(m_commits[0].first, 4u);
    EXPECT_EQ(m_commits[1].first, 4u);
    EXPECT_EQ(m_commits[2].first, 2u);
    EXPECT_EQ(m_commits[0].second, 1000u + 1001u + 1002u + 1003u);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// Batches of four: file 0 fails while its new content is written (the first of a batch), file 3
// when the batch is flushed (its last), file 5 when it is renamed (the middle of the next one).
TEST_F(BatchRun, FailuresAtEveryStepAreToldInTheirTurn) {
    MakeFiles(10);
    int written = 0;
    m_settings.transform.beforeWrite = [&](WriteStage stage, std::uint64_t offset) -> IoStatus {
        if (stage == WriteStage::NewContent && offset == 0 && written++ == 0) {
            return IoError{u"write"};
        }
        return std::nullopt;
    };
    int flushed = 0;
    m_settings.flush = [&](const std::vector<platform::NativeFile*>& files,
                           std::vector<IoStatus>& results) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            // Files 1, 2, 3 are the ones staged in the first batch.
            results[i] = flushed++ == 2 ? IoStatus(IoError{u"flush"}) : files[i]->Sync();
        }
    };
    m_settings.beforePlace = [&](const fs::path& path) -> IoStatus {
        return path == m_files[5] ? IoStatus(IoError{u"rename"}) : std::nullopt;
    };
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_events, (std::vector<std::string>{"0 failed: write", "1 done", "2 done",
                                                  "3 failed: flush", "4 done", "5 failed: rename",
                                                  "6 done", "7 done", "8 done", "9 done"}));
    EXPECT_TRUE(IsOld(0) && IsOld(3) && IsOld(5));
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// Fails the n-th flush of a run.
class NthFlushFails final : public platform::CallFaults {
  public:
    explicit NthFlushFails(int n) : m_left(n) {}
    int Before(platform::SystemCall call) override {
        return call == platform::SystemCall::Flush && --m_left == 0 ? EIO : 0;
    }

  private:
    std::atomic<int> m_left;
};

// Done means on the disk: when the folder of a batch cannot be made durable, its files are not
// told done (they hold their new content, which a power cut could still undo).
TEST_F(BatchRun, AFolderThatCannotBeMadeDurableIsTold) {
    MakeFiles(6);
    NthFlushFails faults(5);  // after the four files of the first batch: their folder
    {
        const testing::FaultsInPlace inPlace(faults);
        ASSERT_TRUE(RunAll());
    }
    const std::string failed = "failed after: " + Utf16ToUtf8(SystemErrorText(EIO));
    EXPECT_EQ(m_events, (std::vector<std::string>{"0 " + failed, "1 " + failed, "2 " + failed,
                                                  "3 " + failed, "4 done", "5 done"}));
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(IsNew(i)) << i;
    }
}

// A real file met again, under the same path or another name, is transformed once and told what
// its first meeting was told: done, or the same failure.
TEST_F(BatchRun, AFileMetAgainIsToldWhatItWasToldFirst) {
    MakeFiles(3);
    fs::create_hard_link(m_files[1], m_folder / "second-name.bin");
    m_settings.beforePlace = [this](const fs::path& path) -> IoStatus {
        return path == m_files[2] ? IoStatus(IoError{u"refused"}) : std::nullopt;
    };
    std::vector<std::string> told;
    auto record = [&told](const char* what) {
        return [&told, what](const FileOutcome& outcome) {
            told.push_back(std::string(what) + (outcome.ok() ? " done" : " failed"));
            return true;
        };
    };
    {
        BatchedTransform batch(Direction::Encrypt, kKey, {}, m_settings);
        ASSERT_TRUE(batch.Add(m_files[0], record("0")));
        ASSERT_TRUE(batch.Add(m_files[2], record("2")));
        ASSERT_TRUE(batch.Add(m_files[0], record("0 again")));
        ASSERT_TRUE(batch.Add(m_files[1], record("1")));
        ASSERT_TRUE(batch.Add(m_folder / "second-name.bin", record("1 by its second name")));
        ASSERT_TRUE(batch.Add(m_files[2], record("2 again")));
        ASSERT_TRUE(batch.Finish());
    }
    EXPECT_EQ(told, (std::vector<std::string>{"0 done", "2 failed", "0 again done", "1 done",
                                              "1 by its second name done", "2 again failed"}));
    EXPECT_TRUE(IsNew(0));
    EXPECT_TRUE(IsNew(1));
    EXPECT_TRUE(IsOld(2));
}

TEST_F(BatchRun, StopWhileABatchIsWrittenLeavesItUnrenamed) {
    MakeFiles(10);
    std::stop_source stop;
    int written = 0;
    m_settings.transform.beforeWrite = [&](WriteStage stage, std::uint64_t offset) -> IoStatus {
        // The second file of the second batch.
        if (stage == WriteStage::NewContent && offset == 0 && written++ == 5) {
            stop.request_stop();
        }
        return std::nullopt;
    };
    EXPECT_FALSE(RunAll(stop.get_token()));
    EXPECT_EQ(m_events, DoneUpTo(3));
    for (std::size_t i = 4; i < 10; ++i) {
        EXPECT_TRUE(IsOld(i)) << i;
    }
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// As when the quit label ends the box about file 5: files 6 and 7, staged with it, keep their
// old content. (Only a failure's box can end a run: successes are told once their batch is
// durable.)
TEST_F(BatchRun, EndingWhenAFileIsToldLeavesTheRestOfItsBatchUnrenamed) {
    MakeFiles(10);
    m_settings.beforePlace = [this](const fs::path& path) -> IoStatus {
        return path == m_files[5] ? IoStatus(IoError{u"refused"}) : std::nullopt;
    };
    EXPECT_FALSE(RunAll({}, 5));
    std::vector<std::string> expected = DoneUpTo(4);
    expected.push_back("5 failed: refused");
    EXPECT_EQ(m_events, expected);
    for (std::size_t i = 5; i < 10; ++i) {
        EXPECT_TRUE(IsOld(i)) << i;
    }
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// Whatever the sizes, a batch holds at most the limits; larger files go alone, in their turn.
TEST_F(BatchRun, BatchesStayWithinTheirLimits) {
    for (int i = 0; i < 40; ++i) {
        m_files.push_back(m_folder / NumberedName(100 + i));
        const std::size_t size = i % 13 == 7 ? 20 << 10 : (1 + (i * 7) % 15) << 10;
        m_plain.push_back(RandomBytes(size, 900 + i));
        WriteBytes(m_files.back(), m_plain.back());
    }
    m_settings.limits = BatchLimits{10, 40 << 10, 16 << 10};
    std::uint64_t committed = 0;
    m_settings.onCommit = [&](std::size_t files, std::uint64_t bytes) {
        EXPECT_LE(files, 10u);
        EXPECT_LE(bytes, 40u << 10);
        committed += files;
    };
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_events, DoneUpTo(39));
    EXPECT_EQ(committed, 40u - 3u);  // files 7, 20 and 33 went alone
}

TEST_F(BatchRun, FileWithSeveralNamesIsRewrittenInItsTurn) {
    MakeFiles(6);
    fs::create_hard_link(m_files[2], m_folder / "other-name.bin");
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_events, DoneUpTo(5));
    EXPECT_EQ(ReadBytes(m_folder / "other-name.bin"), ReferenceEncrypt(m_plain[2], kKey));
    EXPECT_EQ(m_commits.size(), 2u);  // files 0 and 1 before it, 3 to 5 after it
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

}  // namespace
}  // namespace kestrove
