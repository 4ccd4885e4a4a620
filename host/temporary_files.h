// Replacing a file through a temporary beside it, the one way every writer
// of the process (image and mesh files, settings files) replaces a file.
//
// The temporaries in progress are kept where a signal handler can remove
// them: the command's second Ctrl-C deletes any half-written file before it
// ends the process at once. They live in the shared runtime so that the
// plug-in's writes and the command's are in one table.
//
// A fixed table of path buffers, each with an atomic state, so that the
// handler needs neither a lock nor an allocation. Removal is meant for a
// process about to end: a slot forgotten and reused by another thread while
// RemoveTemporaryFiles runs may be read half rewritten.
#pragma once

#include <cstddef>
#include <string>

#include "host/runtime.h"

// How much a temporary's writes gather before their write-out is started.
inline constexpr std::size_t kWritebackBytes = std::size_t{1} << 20;
// Paths longer than this (terminator included) are not remembered.
inline constexpr std::size_t kTemporaryPathBytes = 4096;
// How many temporaries may be remembered at once.
inline constexpr int kTemporarySlots = 8;
// A target's file name is cut to this many bytes in its temporary's name, so
// that the temporary's name (".NAME.dunsmere-PID-COUNT.tmp") stays a valid
// 255-byte file name.
inline constexpr std::size_t kTemporaryStemBytes = 219;

// Remembers PATH as a temporary in progress. Returns the slot to forget it
// by, or -1 when the path is too long or every slot is taken (the write then
// goes on; its temporary is only left to the normal clean-up).
DUNSMERE_HOST_API int RememberTemporaryFile(const char* path);

// Forgets the slot RememberTemporaryFile returned; -1 is ignored.
DUNSMERE_HOST_API void ForgetTemporaryFile(int slot);

// Unlinks every remembered file. The slots stay taken: each belongs to its
// writer until that writer forgets it. Async-signal-safe.
DUNSMERE_HOST_API void RemoveTemporaryFiles();

// Marks every temporary remembered now as abandoned: its Commit fails with
// ECANCELED and the target keeps its old file. Temporaries made later are
// not affected. Async-signal-safe; a cancel calls it so that a write under
// way when the cancel came does not replace its target.
DUNSMERE_HOST_API void AbandonTemporaryFiles();

// The steps of a replace that a test can make fail.
enum class FileStep { kWrite, kSync, kRename, kCreate };
// Asked before each creation, write, sync and rename of a temporary, with
// the path of its target; a non-zero answer is that step's errno and the
// step is not made. For tests, which cannot make a disk fill up or a
// root-run rename or creation be refused; none is installed otherwise.
using FileFaultHook = int (*)(FileStep step, const char* target);
DUNSMERE_HOST_API void SetFileFaultHook(FileFaultHook hook);

// Whether NAME is a temporary's name: ".NAME.dunsmere-PID-COUNT.tmp".
DUNSMERE_HOST_API bool IsTemporaryName(const char* name);

// Takes, without waiting, the exclusive flock on FD's file, and checks that
// DIRFD/NAME (AT_FDCWD for a path) still names that file. A file's lock is
// held by whoever owns it for as long as the file is theirs; one a sweep
// can take belongs to nobody alive. False when another holds the lock or
// the name has gone; the caller then closes FD. On a file system without
// locks, true unlocked: no sweep can take the file either.
DUNSMERE_HOST_API bool LockWhileNamed(int fd, int dirfd, const char* name);

// Opens DIRFD/NAME, which must be a regular file (created first when CREATE
// is true), and takes its lock as above: the open descriptor, whose owner
// may now remove the file, and what it guards, before closing it; -1 when a
// live owner holds it or it cannot be opened.
DUNSMERE_HOST_API int LockAbandoned(int dirfd, const char* name, bool create);

// PATH with its symbolic links followed to the file they lead to (which need
// not exist yet); PATH itself when a link cannot be read or there are too
// many. For a writer whose file names others beside it.
DUNSMERE_HOST_API std::string FollowLinks(const std::string& path);

// A fresh file beside TARGET, created exclusively so that it is never anyone
// else's, given the permissions of the file it will replace (a new file gets
// the umask's), and remembered above while it exists. Commit syncs it and
// renames it over the target, so the target is at every moment either the
// old file or the complete new one; otherwise the destructor closes and
// removes it. No function here throws.
//
// A TARGET that is a symbolic link is written through: the temporary goes
// beside the file the link leads to, which the rename replaces, and the link
// stays. The temporary is named by IsTemporaryName's rule and holds its lock
// (LockWhileNamed) from its creation until it is renamed or removed. Before
// it is made, every temporary in its folder whose lock can be taken, left by
// a run that was killed, is removed.
//
// Signals are held back while a temporary is created and remembered and
// while it is renamed and forgotten, so that a handler never finds a file
// of ours that it cannot see, nor forgets one that is still there.
class DUNSMERE_HOST_API TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // The open descriptor, or -1 when the file could not be made (error()
    // then holds the errno).
    int fd() const { return fd_; }
    int error() const { return error_; }
    // The file the rename will replace: TARGET with its links followed.
    const std::string& target() const { return target_; }
    // The temporary's path; "" when there is none.
    const std::string& path() const { return path_; }

    // Writes all of DATA at the file's offset; false with errno set when it
    // could not. Writers use it rather than write(2) on fd(), so that a test
    // can make a chosen write fail. Every kWritebackBytes or so it starts
    // the disk writing what the file holds, without waiting, so that the
    // sync at Commit has little left to wait for.
    bool Write(const void* data, std::size_t size);

    // Syncs the file and renames it over the target, closes it, then syncs
    // the directory; false with errno set when it could not, and the
    // temporary then waits for the destructor. Called once.
    bool Commit();

private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    int slot_ = -1;
    bool committing_ = false;
    std::size_t unsynced_ = 0;  // bytes written since the disk was last set going
};
