// The finger files: one file per user and finger at
//   store root + user id + "/" + finger name + ".Data",
// each exactly kFingerFileSize bytes holding a template. The store keeps no
// state in memory; every operation lists the directory afresh.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

// Size of every finger file (the whole template buffer).
inline constexpr size_t kFingerFileSize = 28000;
// Longest user id or finger name the store accepts, in bytes.
inline constexpr size_t kMaxStoreNameLength = 58;
// Room for ten finger file names of the longest length with their NUL bytes.
inline constexpr size_t kFileListSize = 1024;

// Whether a caller's user id or finger name may become a path component: 1 to
// 58 bytes, not "." or "..", not starting with ".", without "/" and without
// control characters.
bool vkIsStoreName(const char *name);

// Lists a directory (path ends in "/"): mode 1 = finger files (regular files
// named "*.Data", longer than 5 characters), mode 0 = user directories. Names
// starting with "." and symbolic links are skipped. Accepted names are appended
// to `list` (when given) with their NUL bytes while they fit in `listSize`;
// the listing stops when the next name would not fit. Returns the number of
// names listed, or -100 when the directory cannot be opened.
int getSubFile(const char *path, char *list, size_t listSize, int mode);

// What identifies a file across renames: its device and inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

// Result of vkSaveFingerFile when a finger of that name exists.
inline constexpr int kStoreNameTaken = -2;

// Every change of the store (these three and vkDelFp, vkDelAllFp, vkRenameFp)
// checks and changes under one lock, so changes made on the bus thread and by
// a worker never interleave. Data is written to a hidden temporary file in
// the same directory and flushed before the lock is taken; the rename that
// puts it in place is made under the lock. A crash or a full disk never
// leaves a partial finger file.

// Writes a finger file for a new enrolment, creating the user directory (and
// any missing directory above it) with mode 0700; the file gets mode 0600. A
// file of that name is never replaced. Returns 0, kStoreNameTaken when the
// name exists (another finger was renamed onto it meanwhile), or -1 when the
// file could not be written.
int vkSaveFingerFile(const char *id, const char *finger, const uint8_t *data);

// Renews the finger file at `path` that was read as the file `matched`. When
// that file is no longer there under that path (deleted, renamed away, or
// another file renamed onto the name), nothing is written and 1 is returned.
// 0 renewed (`renewed`, when given, is the new file); -1 not written (the
// previous file stays).
int vkRenewFingerFile(const char *path, const FileIdentity &matched, const uint8_t *data,
                      FileIdentity *renewed = nullptr);

// Holds the store's lock: no change of the store happens while it is held.
// What is decided about a file under it (a match announced) stays true until
// the changes waiting for it (a deletion) go ahead.
std::unique_lock<std::mutex> vkLockStore();

// Whether `path` is still the regular file `identity` (call under vkLockStore).
bool vkIsSameFile(const char *path, const FileIdentity &identity);

// Replaces the file at `path` unconditionally, the same crash-safe way; the
// previous file stays when anything fails. Returns 0, or -1.
int vkReplaceFile(const char *path, const uint8_t *data, size_t size);
