#include "Transformer.h"
#include "UndoRecord.h"

// Rewriting a file in place (a file with several hard links, or with an owner or attributes that
// a new file cannot be given). A rename would split the links or lose them, so the file itself is
// rewritten. First its old content, followed by a record of how the file is rewritten, is copied
// to a temporary file beside it, synced, and given the undo name that carries the file's index;
// then each block is transformed over the file, the file is synced, and the undo file is renamed
// to its committed name before it is removed. A failure or a stop copies the old content back
// from the undo file. A crash part-way leaves the undo file, by whose name and record the next
// run over the folder tells an interrupted rewrite from a complete one (Leftovers.h).

namespace kestrove::detail {

FileOutcome Transformer::RewriteInPlace(TargetFile& target) {
    StagedFile undo;  // removed on the way out unless kept
    const IoResult<StreamResult> saving = SaveOldContent(target, undo);
    if (saving.failure) {
        return Failed(*saving.failure);
    }
    const StreamResult& saved = saving.value;
    if (saved.end != StreamEnd::Finished) {
        return Outcome(saved);
    }
    // From here until the copy is committed, it is the one complete copy of the old content.
    const StreamResult rewritten =
        Stream(undo.temp.file, target.file, WriteStage::InPlace, saved.done);
    IoStatus failure;
    if (rewritten.end == StreamEnd::Finished) {
        failure = target.file.Sync();
        if (!failure) {
            failure = platform::MarkCommitted(undo.temp);
        }
        if (!failure) {
            return DropUndo(undo, target);
        }
    } else if (rewritten.end == StreamEnd::Failed) {
        failure = rewritten.error;
    }
    const std::uint64_t touched =
        rewritten.end == StreamEnd::Finished ? saved.done : rewritten.touched;
    return PutBack(target, undo, touched, failure);
}

// The old content and the record after it into a new undo file beside the file, synced, then
// marked as the undo file of this file. A failure, or a stop in the stream's result, leaves the
// file untouched.
IoResult<StreamResult> Transformer::SaveOldContent(TargetFile& target, StagedFile& undo) {
    if (IoStatus failure = platform::CreateTemporaryBeside(target.realPath, undo.temp)) {
        return {failure};
    }
    const StreamResult saved = Stream(target.file, undo.temp.file, WriteStage::Backup, kToEnd);
    if (saved.end == StreamEnd::Failed) {
        return {saved.error};
    }
    if (saved.end == StreamEnd::Stopped) {
        return {std::nullopt, saved};
    }
    // What was saved is what is rewritten, whatever the file's length was when it was opened.
    const UndoRecordBytes record = EncodeUndoRecord(
        {m_direction, m_table.key(), saved.done, target.fileIndex, platform::CurrentProcess()});
    if (IoStatus failure =
            Write(WriteStage::Backup, undo.temp.file, saved.done, record.data(), record.size())) {
        return {failure};
    }
    if (IoStatus failure = undo.temp.file.Sync()) {
        return {failure};
    }
    // Only a complete, synced copy carries the name that tells the next run to put it back.
    return {platform::MarkAsUndo(undo.temp, target.fileIndex), saved};
}

// The rewrite is complete and durable and its copy committed: the copy goes. One that cannot be
// removed is said, since a copy of the old content stays beside the file; it is no longer one to
// put back, and the next run removes it.
FileOutcome Transformer::DropUndo(StagedFile& undo, const TargetFile& target) {
    const std::filesystem::path copy = undo.temp.path;
    if (IoStatus failure = platform::RemoveTemporary(undo.temp)) {
        return FailedOutcome(m_path, failure->With(CopyNote::CopyStillAt, copy), true);
    }
    // Whichever of its names a crash brings back, the copy is one to remove.
    (void)platform::SyncFolderOf(target.realPath);
    return DoneOutcome();
}

// Copies the old content back over the part of the file that may have changed. failure is why the
// rewrite ended; none means it was stopped.
FileOutcome Transformer::PutBack(TargetFile& target, StagedFile& undo, std::uint64_t touched,
                                 const IoStatus& failure) {
    const StreamResult restored = Stream(undo.temp.file, target.file, WriteStage::Restore, touched);
    IoStatus restoreFailure =
        restored.end == StreamEnd::Failed ? IoStatus(restored.error) : target.file.Sync();
    if (restoreFailure) {
        // The undo file is now the only full copy of the old content: it stays, for the next run
        // over its folder to put back, and the text says where it is.
        const IoError reason =
            (failure ? *failure : *restoreFailure).With(CopyNote::OldContentKeptIn, undo.temp.path);
        undo.temp.path.clear();
        return Failed(reason);
    }
    return failure ? Failed(*failure) : StoppedOutcome();
}

}  // namespace kestrove::detail
