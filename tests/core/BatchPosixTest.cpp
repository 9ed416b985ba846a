// Group commit on POSIX: a batch of 1,000 files killed at random moments (every file holds its
// whole old or its whole new content, and the next run over the folder removes the batch's
// temporary files), and the replaced files let go of once the run is over.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <random>

#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "ChildProcess.h"
#include "FileTransformDetail.h"
#include "Leftovers.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::BatchSettings;
using detail::WriteStage;
using platform::IoStatus;
using testing::Bytes;
using testing::OurTemporaryNames;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr std::int32_t kKey = 91;
constexpr int kFiles = 1000;

// Where a child stops to be killed: while file `file` is written, before it is renamed, or in
// the middle of its batch's flush.
enum class Moment { Writing, Renaming, Flushing };

class ThousandFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < kFiles; ++i) {
            m_files.push_back(m_folder / ("f" + std::to_string(1000 + i) + ".bin"));
            m_plain.push_back(RandomBytes(1500, static_cast<std::uint32_t>(i)));
            WriteBytes(m_files.back(), m_plain.back());
        }
    }

    void RunAll(const BatchSettings& settings) const {
        BatchedTransform batch(Direction::Encrypt, kKey, {}, settings);
        for (const fs::path& file : m_files) {
            if (!batch.Add(file, [](const FileOutcome&) { return true; })) {
                return;
            }
        }
        (void)batch.Finish();
    }

    BatchSettings StopAt(Moment moment, int file, const std::function<void()>& ready) const {
        BatchSettings settings;
        // The moments of files renamed into place; small files written over in place are killed
        // at random times below.
        settings.smallUpTo = 0;
        auto written = std::make_shared<int>(0);
        settings.transform.beforeWrite = [=](WriteStage stage, std::uint64_t) -> IoStatus {
            if (moment == Moment::Writing && stage == WriteStage::NewContent &&
                (*written)++ == file) {
                ready();
            }
            return std::nullopt;
        };
        settings.beforePlace = [=, this](const fs::path& path) -> IoStatus {
            if (moment == Moment::Renaming && path == m_files[static_cast<std::size_t>(file)]) {
                ready();
            }
            return std::nullopt;
        };
        auto flushed = std::make_shared<int>(0);
        settings.flush = [=](const std::vector<platform::NativeFile*>& files,
                             std::vector<IoStatus>& results) {
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (moment == Moment::Flushing && (*flushed)++ == file) {
                    ready();
                }
                results[i] = files[i]->Sync();
            }
        };
        return settings;
    }

    // Every file whole, old or new; the number of new ones.
    int CountNewAndCheckWhole() const {
        int renewed = 0;
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            const Bytes now = ReadBytes(m_files[i]);
            const bool isNew = now == ReferenceEncrypt(m_plain[i], kKey);
            EXPECT_TRUE(isNew || now == m_plain[i]) << m_files[i] << " is neither old nor new";
            renewed += isNew ? 1 : 0;
        }
        return renewed;
    }

    void ExpectLeftoversCleaned() {
        EXPECT_FALSE(CleanLeftoversBeside(m_files.front()).has_value());
        EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
    }

    ScratchFolder m_folder;
    std::vector<fs::path> m_files;
    std::vector<Bytes> m_plain;
};

// Moments chosen at random, in every part of a batch; the seed is printed with any failure.
TEST_F(ThousandFiles, KilledAtChosenMomentsTheFilesBeforeAreNewAndTheRestOld) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const Moment moments[] = {Moment::Writing, Moment::Renaming, Moment::Flushing};
    const Moment moment = moments[random() % 3];
    const int file = static_cast<int>(random() % kFiles);
    SCOPED_TRACE("moment " + std::to_string(static_cast<int>(moment)) + " file " +
                 std::to_string(file));
    ASSERT_TRUE(testing::RunAndKillWhenReady(
        [&](const std::function<void()>& ready) { RunAll(StopAt(moment, file, ready)); }));
    const int renewed = CountNewAndCheckWhole();
    // Batches of 256: a batch's files are renamed only after all of them are flushed.
    const int batchStart = file / 256 * 256;
    EXPECT_EQ(renewed, moment == Moment::Renaming ? file : batchStart);
    for (int i = 0; i < renewed; ++i) {
        ASSERT_EQ(ReadBytes(m_files[static_cast<std::size_t>(i)]),
                  ReferenceEncrypt(m_plain[static_cast<std::size_t>(i)], kKey));
    }
    ExpectLeftoversCleaned();
}

TEST_F(ThousandFiles, KilledAtRandomTimesEveryFileIsWhole) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 3; ++round) {
        const int pid = testing::StartChild([&] { RunAll(BatchSettings{}); });
        ::usleep(static_cast<useconds_t>(random() % 400'000));
        testing::KillChild(pid);
        CountNewAndCheckWhole();
        ExpectLeftoversCleaned();
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            WriteBytes(m_files[i], m_plain[i]);
        }
    }
}

// The replaced files are held across their renames and closed on a thread of their own: none of
// them, and no temporary file, stays open once the run is over, and their space is freed.
TEST_F(ThousandFiles, ReplacedFilesAreLetGoOfWhenTheRunIsOver) {
    const std::size_t before = testing::OpenDescriptorCount();
    RunAll(BatchSettings{});
    EXPECT_EQ(testing::OpenDescriptorCount(), before);
    EXPECT_EQ(CountNewAndCheckWhole(), kFiles);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// A batch holds two files open per file: under a low limit on open files it holds fewer files.
TEST_F(ThousandFiles, BatchesFitTheLimitOnOpenFiles) {
    const testing::ChildResult result = testing::RunInChild([&](std::string& text) {
        const rlimit limit{150, 150};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return 9;
        }
        BatchSettings settings;
        std::size_t largest = 0;
        settings.onCommit = [&](std::size_t files, std::uint64_t) {
            largest = std::max(largest, files);
        };
        BatchedTransform batch(Direction::Encrypt, kKey, {}, settings);
        int failed = 0;
        for (const fs::path& file : m_files) {
            if (!batch.Add(file, [&](const FileOutcome& outcome) {
                    failed += outcome.ok() ? 0 : 1;
                    return true;
                })) {
                return 8;
            }
        }
        text = std::to_string(largest);
        return batch.Finish() && failed == 0 ? 0 : 7;
    });
    ASSERT_EQ(result.exitCode, 0) << result.text;
    EXPECT_LE(std::stoul(result.text), 43u);
    EXPECT_EQ(CountNewAndCheckWhole(), kFiles);
}

}  // namespace
}  // namespace kestrove
