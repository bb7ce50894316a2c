#include "finger_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "log.h"
#include "operations.h"
#include "veko2547_drv.h"

namespace {

constexpr size_t kPathSize = 256;
constexpr char kFingerSuffix[] = ".Data";
constexpr size_t kSuffixLength = sizeof kFingerSuffix - 1;
// Name prefix of a finger file being written (hidden from listings).
constexpr char kTempPrefix[] = ".finger.";

// Held by every change of the store (new file, renewal, rename, removal) for
// the check and the change together, so that the bus thread and a worker
// never act on what the other has just changed. Never held over a write of
// file data or an fsync.
std::mutex s_storeLock;

struct DirCloser {
    DIR *dir;
    ~DirCloser() {
        if (dir) closedir(dir);
    }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

bool isFingerFileName(const char *name) {
    const size_t len = strlen(name);
    return len > kSuffixLength && strcmp(name + len - kSuffixLength, kFingerSuffix) == 0;
}

// root + id + "/"; false when it does not fit.
bool userDirectory(const char *id, char *out) {
    const int n = snprintf(out, kPathSize, "%s%s/", m_filePath, id);
    return n > 0 && static_cast<size_t>(n) < kPathSize;
}

bool joinPath(char *out, const char *dir, const char *name, const char *suffix = "") {
    const int n = snprintf(out, kPathSize, "%s%s%s", dir, name, suffix);
    return n > 0 && static_cast<size_t>(n) < kPathSize;
}

bool writeAll(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Directory part of a path (up to and including the last "/").
void directoryOf(const char *path, char *out) {
    snprintf(out, kPathSize, "%s", path);
    char *slash = strrchr(out, '/');
    if (slash) slash[1] = '\0';
}

// Creates every missing directory of `dir` (ending in "/") from the top down.
void createDirectories(const char *dir) {
    char prefix[kPathSize];
    snprintf(prefix, sizeof prefix, "%s", dir);
    const size_t len = strlen(prefix);
    for (size_t i = 1; i < len; ++i) {
        if (prefix[i] != '/') continue;
        prefix[i] = '\0';
        if (access(prefix, F_OK) == 0) {
            _vklog("dir_name = %s i=%d W_OK %s\n", prefix, static_cast<int>(i),
                   access(prefix, W_OK) == 0 ? "YES" : "NO");
        } else if (mkdir(prefix, 0700) != 0 && errno != EEXIST) {
            _vklog("Create Biometric Datebase Directory (%s) Error\n", dir);
            return;
        }
        prefix[i] = '/';
    }
}

// Lists the user's finger files; -100 without a user directory, -1 when
// there are none.
int listFingerFiles(const char *id, char *dir, char *list, size_t listSize) {
    if (!userDirectory(id, dir)) return -100;
    const int count = getSubFile(dir, list, listSize, 1);
    if (count < 0) return count;
    return count == 0 ? -1 : count;
}

// The listed name that is exactly finger + ".Data", or nullptr.
const char *findFinger(const char *list, int count, const char *finger) {
    char target[kPathSize];
    if (!joinPath(target, "", finger, kFingerSuffix)) return nullptr;
    _vklog("delname %s\n", target);
    const char *name = list;
    for (int i = 0; i < count; ++i, name += strlen(name) + 1) {
        _vklog("SubFile %d %s\n", static_cast<int>(strlen(name)), name);
        if (strcmp(name, target) == 0) return name;
    }
    return nullptr;
}

}  // namespace

bool vkIsStoreName(const char *name) {
    if (name == nullptr) return false;
    const size_t len = strnlen(name, kMaxStoreNameLength + 1);
    if (len == 0 || len > kMaxStoreNameLength || name[0] == '.') return false;  // covers "." and ".."
    for (size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

int getSubFile(const char *path, char *list, size_t listSize, int mode) {
    if (access(path, F_OK) != 0) return -100;
    DirCloser dir{opendir(path)};
    if (dir.dir == nullptr) {
        _vklog("error opendir %s!!!\n", path);
        return -100;
    }
    int count = 0;
    size_t used = 0;
    while (const dirent *entry = readdir(dir.dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.') continue;
        char full[kPathSize];
        struct stat st;
        if (!joinPath(full, path, name) || lstat(full, &st) != 0) {
            _vklogstr("stat error\n");
            continue;
        }
        const bool accepted = mode == 1 ? (S_ISREG(st.st_mode) && isFingerFileName(name)) : S_ISDIR(st.st_mode);
        if (!accepted) continue;
        if (list != nullptr) {
            const size_t need = strlen(name) + 1;
            if (used + need > listSize) break;  // never past the caller's buffer
            memcpy(list + used, name, need);
            used += need;
        }
        _vklog("find file:%s\n", name);
        ++count;
    }
    return count;
}

namespace {

// Test runs widen the window between writing a finger file and putting it in
// place, so that a concurrent delete, rename or enrolment can be made to land
// in it: VEKO_TEST_STORE_PAUSE_MS (at most 10 s). Unset, there is no pause.
void pauseBeforePlacing() {
    static const int pauseMs = [] {
        const char *value = getenv("VEKO_TEST_STORE_PAUSE_MS");
        const int ms = value != nullptr ? atoi(value) : 0;
        return ms < 0 ? 0 : ms > 10000 ? 10000 : ms;
    }();
    if (pauseMs == 0) return;
    _vklog("store pause %d ms", pauseMs);
    usleep(static_cast<useconds_t>(pauseMs) * 1000);
}

// Removes the temporary files a service killed while writing left behind.
// Only one worker ever writes, so any such file is stale when a write begins.
void removeStaleTemporaries(const char *dir) {
    DirCloser entries{opendir(dir)};
    if (entries.dir == nullptr) return;
    while (const dirent *entry = readdir(entries.dir)) {
        char stale[kPathSize];
        if (strncmp(entry->d_name, kTempPrefix, sizeof kTempPrefix - 1) == 0 && joinPath(stale, dir, entry->d_name))
            unlink(stale);
    }
}

// Writes `data` to a new hidden temporary file in `dir`, flushed to disk, mode
// 0600. Its path goes to `temp`. False (and nothing left) when it fails.
bool writeTemporary(const char *dir, const uint8_t *data, size_t size, char *temp) {
    removeStaleTemporaries(dir);
    // A hidden name: listings never show a half-written file.
    if (!joinPath(temp, dir, kTempPrefix, "XXXXXX")) return false;
    FdCloser file{mkstemp(temp)};
    if (file.fd < 0) return false;
    const bool written = fchmod(file.fd, 0600) == 0 && writeAll(file.fd, data, size) && fsync(file.fd) == 0;
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0 || !written) {
        unlink(temp);
        return false;
    }
    pauseBeforePlacing();
    return true;
}

// Makes the last rename in `dir` durable.
void syncDirectory(const char *dir) {
    FdCloser parent{open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (parent.fd >= 0) fsync(parent.fd);
}

// Moves `from` to `to` unless `to` exists. 0, or errno (EEXIST when taken).
int renameNoReplace(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without RENAME_NOREPLACE: a hard link cannot replace either.
    if (link(from, to) != 0) return errno;
    unlink(from);
    return 0;
}

}  // namespace

int vkReplaceFile(const char *path, const uint8_t *data, size_t size) {
    char dir[kPathSize];
    directoryOf(path, dir);
    char temp[kPathSize];
    if (!writeTemporary(dir, data, size, temp)) return -1;
    {
        std::lock_guard<std::mutex> lock(s_storeLock);
        if (rename(temp, path) != 0) {
            unlink(temp);
            return -1;
        }
    }
    syncDirectory(dir);
    return 0;
}

std::unique_lock<std::mutex> vkLockStore() { return std::unique_lock<std::mutex>(s_storeLock); }

bool vkIsSameFile(const char *path, const FileIdentity &identity) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == identity.device && st.st_ino == identity.inode;
}

int vkRenewFingerFile(const char *path, const FileIdentity &matched, const uint8_t *data, FileIdentity *renewed) {
    char dir[kPathSize];
    directoryOf(path, dir);
    char temp[kPathSize];
    if (!writeTemporary(dir, data, kFingerFileSize, temp)) return -1;
    {
        std::lock_guard<std::mutex> lock(s_storeLock);
        // Deleted, renamed away or replaced since it was read: the renewal
        // would bring back a finger that is gone, or overwrite another one.
        if (!vkIsSameFile(path, matched)) {
            unlink(temp);
            return 1;
        }
        struct stat st;
        if (lstat(temp, &st) != 0 || rename(temp, path) != 0) {
            unlink(temp);
            return -1;
        }
        if (renewed != nullptr) *renewed = {st.st_dev, st.st_ino};
    }
    syncDirectory(dir);
    return 0;
}

int vkSaveFingerFile(const char *id, const char *finger, const uint8_t *data) {
    char dir[kPathSize];
    char path[kPathSize];
    if (!userDirectory(id, dir) || !joinPath(path, dir, finger, kFingerSuffix)) return -1;
    const int exists = access(dir, F_OK) == 0 ? 0 : -1;
    _vklog("accesss ret = %d\n", exists);
    if (exists != 0) createDirectories(dir);
    char temp[kPathSize];
    if (!writeTemporary(dir, data, kFingerFileSize, temp)) return -1;
    int err;
    {
        // A finger renamed onto this name while the enrolment ran keeps it.
        std::lock_guard<std::mutex> lock(s_storeLock);
        err = renameNoReplace(temp, path);
    }
    if (err != 0) {
        unlink(temp);
        return err == EEXIST ? kStoreNameTaken : -1;
    }
    syncDirectory(dir);
    return 0;
}

namespace {

// The stored file of one finger of a user: its directory in dir, its name (in
// list) or null, and 0 or the listing's failure code in *status.
const char *storedFinger(const char *id, const char *finger, char *dir, char *list, size_t listSize, int *status) {
    const int count = listFingerFiles(id, dir, list, listSize);
    *status = count < 0 ? count : 0;
    if (count < 0) return nullptr;
    _vklog("getSubFile %d\n", count);
    return findFinger(list, count, finger);
}

}  // namespace

int vkDelFp(const char *id, const char *finger) {
    std::lock_guard<std::mutex> lock(s_storeLock);
    char dir[kPathSize];
    char list[kFileListSize] = {};
    int status = 0;
    const char *name = storedFinger(id, finger, dir, list, sizeof list, &status);
    if (status < 0) return status;
    char path[kPathSize];
    if (name == nullptr || !joinPath(path, dir, name)) return -1;
    _vklog("del %s\n", path);
    if (remove(path) != 0) {
        _vklog("del fail %d", errno);
        return -2;
    }
    return 0;
}

int vkDelAllFp(const char *id) {
    std::lock_guard<std::mutex> lock(s_storeLock);
    char dir[kPathSize];
    char list[kFileListSize] = {};
    int count = listFingerFiles(id, dir, list, sizeof list);
    if (count < 0) return count;
    _vklog("getSubFile %d\n", count);
    // A listing holds as many names as fit; list again until none is left.
    for (int round = 0; count > 0 && round < 100; ++round) {
        const char *name = list;
        for (int i = 0; i < count; ++i, name += strlen(name) + 1) {
            char path[kPathSize];
            if (!joinPath(path, dir, name)) continue;
            _vklog("del %s\n", path);
            // A file that cannot be removed would be listed again forever.
            if (remove(path) != 0) {
                _vklog("del fail %d", errno);
                return -2;
            }
        }
        memset(list, 0, sizeof list);
        count = getSubFile(dir, list, sizeof list, 1);
    }
    return count > 0 ? -2 : 0;
}

int vkLstFp(const char *id, char *list, int32_t *count) {
    // Without an open sensor, detection runs once (the device table gives the
    // store root; a root moved for a test run stays).
    if (!m_bDevDetected) vkDetectDev(nullptr);
    *count = 0;
    char dir[kPathSize];
    char files[kFileListSize] = {};
    const int n = listFingerFiles(id, dir, files, sizeof files);
    if (n <= 0) return 0;
    size_t used = 0;
    const char *name = files;
    for (int i = 0; i < n; ++i, name += strlen(name) + 1) {
        const size_t len = strlen(name) - kSuffixLength;
        if (used + len + 1 > kNameListSize) break;
        memcpy(list + used, name, len);
        list[used + len] = '\0';
        used += len + 1;
        ++*count;
    }
    return 0;
}

int vkRenameFp(const char *id, const char *finger, const char *newname) {
    std::lock_guard<std::mutex> lock(s_storeLock);
    char dir[kPathSize];
    char list[kFileListSize] = {};
    int status = 0;
    const char *name = storedFinger(id, finger, dir, list, sizeof list, &status);
    if (status < 0) return status;
    char from[kPathSize];
    char to[kPathSize];
    if (name == nullptr || !joinPath(from, dir, name) || !joinPath(to, dir, newname, kFingerSuffix)) return -1;
    _vklog("rename file=%s\n", to);
    // Renaming onto another finger would silently delete it: refused, in the
    // same step as the move.
    return renameNoReplace(from, to) == 0 ? 0 : -1;
}
