#include "JournalRound.h"

#include <algorithm>
#include <utility>

#include "TextCodec.h"
#include "UndoJournal.h"

namespace kestrove::detail {

using platform::IoError;
using platform::IoStatus;

struct JournalRound::Journal {
    std::filesystem::path folder;
    platform::TemporaryFile file;  // held
    std::vector<std::size_t> files;
    bool prepared = false;  // complete, named and made durable: files may be written
};

namespace {

std::filesystem::path FolderOf(const SmallFile& file) {
    return file.target.realPath.parent_path();
}

void Fail(SmallFile& file, IoError why, bool contentReplaced = false) {
    file.failure = std::move(why);
    file.contentReplaced = contentReplaced;
}

}  // namespace

JournalRound::JournalRound(Direction direction, std::uint32_t key)
    : m_direction(direction), m_key(key) {}

JournalRound::~JournalRound() {
    for (const auto& journal : m_journals) {
        const bool guards = std::any_of(journal->files.begin(), journal->files.end(),
                                        [this](std::size_t i) { return m_files[i]->written; });
        if (guards) {
            // Files were written and not settled: the journal stays, for the next run over the
            // folder to put their old content back.
            journal->file.file.Close();
        } else {
            (void)platform::RemoveTemporary(journal->file);
        }
    }
}

void JournalRound::Add(SmallFile& file) {
    const std::filesystem::path folder = FolderOf(file);
    auto journal = std::find_if(m_journals.begin(), m_journals.end(),
                                [&folder](const auto& j) { return j->folder == folder; });
    if (journal == m_journals.end()) {
        m_journals.push_back(std::make_unique<Journal>());
        m_journals.back()->folder = folder;
        journal = m_journals.end() - 1;
    }
    (*journal)->files.push_back(m_files.size());
    m_journalOf.push_back(static_cast<std::size_t>(journal - m_journals.begin()));
    m_files.push_back(&file);
}

std::vector<std::filesystem::path> JournalRound::Folders() const {
    std::vector<std::filesystem::path> folders;
    for (const auto& journal : m_journals) {
        folders.push_back(journal->folder);
    }
    return folders;
}

std::vector<const platform::NativeFile*> JournalRound::JournalFiles() const {
    std::vector<const platform::NativeFile*> files;
    for (const auto& journal : m_journals) {
        files.push_back(&journal->file.file);
    }
    return files;
}

IoStatus JournalRound::Prepare() {
    const JournalRecord record{m_direction, m_key, platform::CurrentProcess()};
    IoStatus failure;
    for (const auto& journal : m_journals) {
        std::vector<JournalEntry> entries;
        for (const std::size_t i : journal->files) {
            const SmallFile& file = *m_files[i];
            entries.push_back(
                {file.target.fileIndex, file.target.realPath.filename().native(), file.old});
        }
        const std::vector<std::uint8_t> bytes = EncodeJournal(record, entries);
        failure = platform::CreateTemporaryBeside(journal->folder / ".", journal->file);
        if (!failure) {
            failure = journal->file.file.WriteAt(0, bytes.data(), bytes.size());
        }
        if (!failure) {
            failure = platform::MarkAsJournal(journal->file);
        }
        if (failure) {
            break;
        }
    }
    if (!failure) {
        failure = platform::MakeDurable(JournalFiles(), Folders());
    }
    if (failure) {
        for (const auto& journal : m_journals) {
            (void)platform::RemoveTemporary(journal->file);
        }
        return failure;
    }
    for (const auto& journal : m_journals) {
        journal->prepared = true;
    }
    return std::nullopt;
}

IoStatus JournalRound::Write(SmallFile& file) {
    file.written = true;
    IoStatus failure = file.target.file.WriteAt(0, file.fresh.data(), file.fresh.size());
    if (failure && !file.target.file.WriteAt(0, file.old.data(), file.old.size())) {
        file.written = false;  // nothing of the new content is left in it
    }
    return failure;
}

// Writes the old content back over the files written, and makes that durable.
IoStatus JournalRound::RollBack(const std::vector<std::size_t>& written) {
    IoStatus failure;
    std::vector<const platform::NativeFile*> handles;
    for (const std::size_t i : written) {
        SmallFile& file = *m_files[i];
        if (IoStatus undone = file.target.file.WriteAt(0, file.old.data(), file.old.size())) {
            failure = failure ? failure : undone;
        }
        handles.push_back(&file.target.file);
    }
    if (!failure) {
        failure = platform::MakeDurable(handles, Folders());
    }
    return failure;
}

IoStatus JournalRound::Settle(const std::vector<std::filesystem::path>& folders) {
    std::vector<std::size_t> written;
    std::vector<const platform::NativeFile*> handles;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->written) {
            written.push_back(i);
            handles.push_back(&m_files[i]->target.file);
        }
    }
    std::vector<std::filesystem::path> everywhere = folders;
    for (const std::filesystem::path& folder : Folders()) {
        if (std::find(everywhere.begin(), everywhere.end(), folder) == everywhere.end()) {
            everywhere.push_back(folder);
        }
    }
    // The new content on the disk, and the names of the files renamed beside.
    const IoStatus durable = platform::MakeDurable(handles, everywhere);
    IoStatus committed = durable;
    if (!committed) {
        for (const auto& journal : m_journals) {
            if (!committed) {
                committed = platform::MarkCommitted(journal->file, false);
            }
        }
    }
    if (!committed) {
        committed = platform::MakeDurable(JournalFiles(), Folders());
    }
    if (committed) {
        Undo(written, *committed);
        return durable;
    }
    RemoveJournals();
    return std::nullopt;
}

// Not done: the old content goes back, and the journals go only once it is there.
void JournalRound::Undo(const std::vector<std::size_t>& written, const IoError& why) {
    const IoStatus undone = RollBack(written);
    for (const std::size_t i : written) {
        IoError told = why;
        if (undone) {
            told = told.With(CopyNote::OldContentKeptIn, m_journals[m_journalOf[i]]->file.path);
        } else {
            m_files[i]->written = false;
        }
        Fail(*m_files[i], std::move(told));
    }
}

// Done. A journal that cannot be removed is said, since the old content stays beside its files;
// it is no longer one to put back, and the next run removes it.
void JournalRound::RemoveJournals() {
    for (const auto& journal : m_journals) {
        const std::filesystem::path copy = journal->file.path;
        const IoStatus removed = platform::RemoveTemporary(journal->file);
        for (const std::size_t i : journal->files) {
            SmallFile& file = *m_files[i];
            if (removed && file.written) {
                Fail(file, removed->With(CopyNote::CopyStillAt, copy), true);
            }
            file.written = false;
        }
    }
}

}  // namespace kestrove::detail
