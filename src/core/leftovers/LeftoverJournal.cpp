// An undo journal met by a later run (UndoJournal.h). Its files are touched only once it is
// complete and durable, so a journal that does not read as complete guarded nothing yet and goes.
// Otherwise each of its files is looked at, as an undo file's file is (Leftovers.cpp):
//   journal not committed, each byte of the file old or new -> its old content goes back
//   committed, the file holds its new content                -> nothing to do
//   the file holds its old content                           -> nothing to do
//   anything else                                            -> changed since: the file is not
//                                                               written, the journal is kept
// The journal goes once every file of it is done with; a file that has gone from the folder keeps
// it, as an undo file is kept.
#include <algorithm>
#include <utility>
#include <vector>

#include "Keystream.h"
#include "LeftoverParts.h"
#include "UndoJournal.h"

namespace kestrove::detail {

namespace {

using platform::IoError;
using platform::IoStatus;

// Reads the whole journal; empty bytes for a file far larger than any journal a run writes,
// which cannot be one of ours.
IoStatus ReadJournalFile(platform::NativeFile& file, std::vector<std::uint8_t>& bytes) {
    const auto [failure, facts] = platform::DescribeFile(file);
    if (failure) {
        return failure;
    }
    if (facts.size > 2 * kMostJournalBytes) {
        bytes.clear();
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(facts.size));
    return ReadWhole(file, 0, bytes.data(), bytes.size());
}

enum class Content { Old, New, Mixed, Neither };

Content Compare(const std::vector<std::uint8_t>& now, const std::vector<std::uint8_t>& old,
                const std::vector<std::uint8_t>& fresh) {
    if (now.size() != old.size()) {
        return Content::Neither;
    }
    bool allOld = true;
    bool allNew = true;
    for (std::size_t i = 0; i < now.size(); ++i) {
        const bool isOld = now[i] == old[i];
        const bool isNew = now[i] == fresh[i];
        if (!isOld && !isNew) {
            return Content::Neither;
        }
        allOld = allOld && isOld;
        allNew = allNew && isNew;
    }
    return allOld ? Content::Old : allNew ? Content::New : Content::Mixed;
}

class HeldJournal {
  public:
    HeldJournal(platform::TemporaryFile& held, const TemporaryName& name, DecodedJournal journal)
        : m_held(held),
          m_committed(name.kind == TemporaryKind::CommittedJournal),
          m_journal(std::move(journal)),
          m_table(m_journal.record.key) {}

    LeftoverResult Settle();

  private:
    // What the entry's file needs, or why it cannot be done with now.
    void SettleEntry(const JournalEntry& entry, std::uint64_t device);
    // None when the file has gone from the folder.
    platform::IoResult<std::optional<platform::TargetFile>> OpenEntryFile(const JournalEntry& entry,
                                                                          std::uint64_t device);
    IoStatus PutBack(platform::TargetFile& target, const JournalEntry& entry);
    void Block(const JournalEntry& entry, IoError why) {
        m_result.blocks.push_back({entry.fileIndex, std::move(why)});
    }

    platform::TemporaryFile& m_held;
    bool m_committed;
    DecodedJournal m_journal;
    KeystreamTable m_table;
    LeftoverResult m_result;
    bool m_keep = false;
    bool m_restored = false;
};

LeftoverResult HeldJournal::Settle() {
    const auto [failure, facts] = platform::DescribeFile(m_held.file);
    if (failure) {
        LeftoverResult result = Result(LeftoverFate::Failed);
        result.blocksFolder = failure;
        return result;
    }
    for (const JournalEntry& entry : m_journal.entries) {
        SettleEntry(entry, facts.id.device);
    }
    if (!m_result.blocks.empty() || m_keep) {
        // Kept, it would put the old content back over every file of it once it changes: none of
        // them is written while it is there.
        const IoError why = m_result.blocks.empty()
                                ? KeptIn(m_held.path, Failure::Of(Problem::PartnerGone))
                                : m_result.blocks.front().why;
        for (const JournalEntry& entry : m_journal.entries) {
            const bool blocked = std::any_of(
                m_result.blocks.begin(), m_result.blocks.end(),
                [&entry](const BlockedFile& file) { return file.fileIndex == entry.fileIndex; });
            if (!blocked) {
                Block(entry, why);
            }
        }
        m_result.fate = m_keep ? LeftoverFate::Kept : LeftoverFate::Failed;
        return m_result;
    }
    if (IoStatus failure = platform::RemoveTemporary(m_held)) {
        // Left as it is, it would put the old content back over these files once they change.
        for (const JournalEntry& entry : m_journal.entries) {
            Block(entry, *failure);
        }
        m_result.fate = LeftoverFate::Failed;
        return m_result;
    }
    m_result.fate = m_restored ? LeftoverFate::Restored : LeftoverFate::Removed;
    return m_result;
}

void HeldJournal::SettleEntry(const JournalEntry& entry, std::uint64_t device) {
    auto opened = OpenEntryFile(entry, device);
    if (opened.failure) {
        Block(entry, std::move(*opened.failure));
        return;
    }
    if (!opened.value) {
        m_keep = true;  // its old content stays for the user to look at
        return;
    }
    platform::TargetFile& target = *opened.value;
    std::vector<std::uint8_t> now(static_cast<std::size_t>(target.size));
    if (IoStatus failure = ReadWhole(target.file, 0, now.data(), now.size())) {
        Block(entry, std::move(*failure));
        return;
    }
    std::vector<std::uint8_t> fresh = entry.old;
    m_table.Apply(m_journal.record.direction, fresh.data(), fresh.size(), 1);
    const Content content = Compare(now, entry.old, fresh);
    if (content == Content::Old || (content == Content::New && m_committed)) {
        return;
    }
    if (content == Content::Neither || m_committed) {
        m_keep = true;
        Block(entry, KeptIn(m_held.path, Failure::Of(Problem::ChangedSinceInterrupted)));
        return;
    }
    target.file.Close();
    if (IoStatus failure = PutBack(target, entry)) {
        m_keep = true;
        Block(entry, KeptIn(m_held.path, *failure));
        return;
    }
    m_restored = true;
}

// The file of an entry, by its name where that still leads to it, else by its index.
platform::IoResult<std::optional<platform::TargetFile>> HeldJournal::OpenEntryFile(
    const JournalEntry& entry, std::uint64_t device) {
    const std::filesystem::path folder = m_held.path.parent_path();
    std::filesystem::path file = folder / std::filesystem::path(entry.name);
    const auto [named, id] = platform::IdentityOf(file);
    if (named && !platform::IsNotFound(*named)) {
        return {named};
    }
    if (named || id != FileId{device, entry.fileIndex}) {
        Found found = FindFile(folder, {device, entry.fileIndex});
        if (found.failure) {
            return {found.failure};
        }
        if (!found.path) {
            return {};
        }
        file = std::move(*found.path);
    }
    platform::TargetFile target;
    if (IoStatus failure = platform::OpenTarget(file, target)) {
        return {failure};
    }
    if (target.fileIndex != entry.fileIndex) {
        return {KeptIn(m_held.path, Failure::Of(Problem::ChangedSinceInterrupted))};
    }
    return {std::nullopt, std::move(target)};
}

IoStatus HeldJournal::PutBack(platform::TargetFile& target, const JournalEntry& entry) {
    platform::TargetFile writable;
    if (IoStatus failure = platform::OpenTarget(target.realPath, writable)) {
        return failure;
    }
    if (IoStatus failure = platform::OpenTargetForWriting(writable)) {
        return failure;
    }
    if (writable.fileIndex != entry.fileIndex || writable.size != entry.old.size()) {
        return Failure::Of(Problem::ChangedSinceInterrupted);
    }
    if (IoStatus failure = writable.file.WriteAt(0, entry.old.data(), entry.old.size())) {
        return failure;
    }
    return writable.file.Sync();
}

}  // namespace

LeftoverResult SettleJournal(platform::TemporaryFile& held, const TemporaryName& name) {
    std::vector<std::uint8_t> bytes;
    if (IoStatus failure = ReadJournalFile(held.file, bytes)) {
        LeftoverResult result = Result(LeftoverFate::Failed);
        result.blocksFolder = std::move(failure);
        return result;
    }
    if (bytes.empty()) {
        return Result(LeftoverFate::NotOurs);
    }
    std::optional<DecodedJournal> journal = DecodeJournal(bytes);
    if (!journal) {
        // Cut short by a crash while it was written: no file was touched yet.
        return Result(platform::RemoveTemporary(held) ? LeftoverFate::Failed
                                                      : LeftoverFate::Removed);
    }
    return HeldJournal(held, name, std::move(*journal)).Settle();
}

}  // namespace kestrove::detail
