// Diagnostic log: posters queue lines, one writer thread writes them out.
#include "log.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Every record carries this message type; the writer receives only it.
constexpr long kLogMsgType = 2;

// Size above which a dump warns that it shows only part of the data.
constexpr uint32_t kDumpWarnSize = 256;

struct LogRecord {
    long type;
    char text[kLogTextSize];
};

// A queue of an earlier run that nobody has touched for this long, and whose
// last users are gone, is stale. A fresh one may belong to a run that is still
// starting (it posts its first line within a tenth of a second).
constexpr time_t kFreshQueueS = 10;

int m_msgid = -1;
// Lines the queue had no room for (the writer cannot keep up); the writer
// notes their number in the log when it next gets a line.
std::atomic<uint32_t> s_dropped{0};
// Written by the writer thread only; a poster may see the old value for one line.
std::atomic<uint8_t> s_log_show_info{0};
// Lines queued and lines written, so an exiting process can wait for its last lines.
std::atomic<uint32_t> s_posted{0};
std::atomic<uint32_t> s_written{0};
char m_path[kLogTextSize] = "/var/log/vekoidfp2547.log";
char m_flagPath[kLogTextSize] = "/var/log/veko-driver.conf";

void copyPath(char (&dst)[kLogTextSize], const char *src) {
    if (src == nullptr) return;
    snprintf(dst, sizeof dst, "%s", src);
}

// Appends `text` to the NUL-terminated string in `buf` (capacity `size`),
// cutting it to fit.
void appendCut(char *buf, size_t size, const char *text) {
    size_t used = strlen(buf);
    if (used + 1 >= size) return;
    size_t n = strlen(text);
    if (n > size - 1 - used) n = size - 1 - used;
    memcpy(buf + used, text, n);
    buf[used + n] = '\0';
}

// Queues one line, with the "[hh:mm:ss]" prefix when `withTime` is set.
// Never waits: a line the queue has no room for is dropped and counted, so a
// stalled writer can never hold up the thread that logs (the bus thread, a
// worker or a USB callback).
void postMsgLog(const char *text, bool withTime) {
    if (m_msgid < 0) return;
    LogRecord rec;
    memset(&rec, 0, sizeof rec);
    rec.type = kLogMsgType;
    if (withTime) {
        time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        snprintf(rec.text, sizeof rec.text, "[%02d:%02d:%02d]", local.tm_hour, local.tm_min, local.tm_sec);
    }
    appendCut(rec.text, sizeof rec.text, text);
    for (;;) {
        if (msgsnd(m_msgid, &rec, sizeof rec.text, IPC_NOWAIT) == 0) {
            s_posted.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) s_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
}

void get_veko_driver_config() {
    FILE *flag = fopen(m_flagPath, "r");
    s_log_show_info.store(flag != nullptr ? 1 : 0, std::memory_order_relaxed);
    if (flag != nullptr) fclose(flag);
}

void veko_log_file_check() {
    struct stat st;
    if (lstat(m_path, &st) == 0 && st.st_size > kLogFileSizeLimit) remove(m_path);
}

// Writes one line to `fd` only when it can take it at once: a pipe nobody
// reads (a stalled journal, a closed terminal) must not hold the caller.
void writeLineNoWait(int fd, const char *text) {
    pollfd out{fd, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) return;
    char line[kLogTextSize + 1];
    const size_t n = strnlen(text, kLogTextSize - 1);
    memcpy(line, text, n);
    line[n] = '\n';
    // One write of at most 512 bytes: a pipe that polled writable takes it whole.
    const ssize_t written = write(fd, line, n + 1);
    (void)written;
}

// Said once per run: an existing log file that another user owns.
std::atomic<bool> s_foreignLogTold{false};

// Opens the log file for appending, never through a symbolic link. An
// existing file is written only when it is a regular file of this user: a
// FIFO or a device there could block the writer or send the lines elsewhere,
// and another user's file would hand that user the lines. A new file is
// created with mode 0600, exclusively, so nobody else's file is taken over.
// -1 when it cannot be.
int openLogFile() {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(m_path, kFlags);
    if (fd < 0 && errno == ENOENT) fd = open(m_path, kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    if (st.st_uid != geteuid()) {
        close(fd);
        if (!s_foreignLogTold.exchange(true)) {
            char line[kLogTextSize + 80];
            snprintf(line, sizeof line, "log file %s belongs to uid %u, not to this service: not written", m_path,
                     static_cast<unsigned>(st.st_uid));
            writeLineNoWait(STDERR_FILENO, line);
        }
        return -1;
    }
    // A file left by an older version may be readable by others.
    if ((st.st_mode & 077) != 0) fchmod(fd, 0600);
    return fd;
}

void writeAll(int fd, const char *text, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

void writeLine(const char *text) {
    const int fd = openLogFile();
    if (fd >= 0) {
        writeAll(fd, text, strlen(text));
        writeAll(fd, "\n", 1);
        close(fd);
    }
    vkWriteStdoutNoWait(text);
}

void *ExecThreadLog(void *) {
    for (;;) {
        LogRecord rec;
        memset(&rec, 0, sizeof rec);
        if (msgrcv(m_msgid, &rec, sizeof rec.text, kLogMsgType, 0) < 0) {
            // A removed queue cannot deliver again; anything else is retried.
            if (errno == EIDRM || errno == EINVAL) return nullptr;
            continue;
        }
        rec.text[sizeof rec.text - 1] = '\0';
        get_veko_driver_config();
        veko_log_file_check();
        if (const uint32_t dropped = s_dropped.exchange(0, std::memory_order_relaxed)) {
            char note[64];
            snprintf(note, sizeof note, "(%u log lines dropped: the log could not keep up)", dropped);
            writeLine(note);
        }
        writeLine(rec.text);
        s_written.fetch_add(1, std::memory_order_release);
    }
}

// The name of the program `pid` runs ("" when there is no such process).
void programOf(pid_t pid, char (&name)[32]) {
    name[0] = '\0';
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    FILE *f = fopen(path, "re");
    if (f == nullptr) return;
    if (fgets(name, sizeof name, f) == nullptr) name[0] = '\0';
    fclose(f);
    name[strcspn(name, "\n")] = '\0';
}

// Whether `pid` is a running process of the program `name` (not this one).
bool runs(pid_t pid, const char *name) {
    if (pid <= 0 || pid == getpid() || kill(pid, 0) != 0) return false;
    char theirs[32];
    programOf(pid, theirs);
    return strcmp(theirs, name) == 0;
}

// The first record of every log queue: it marks the queue as a log queue of
// the service's code and names the program that made it. The writer, which
// takes only kLogMsgType, leaves it there.
constexpr long kMarkerMsgType = 0x2547;
constexpr const char *kMarkerText = "veko2547 log queue of ";

// Whether queue `id` is one that an earlier, killed run left behind: private,
// created and owned by this user with mode 0600, marked (its first record,
// looked at without taking it), and neither its last sender nor its last
// receiver a running copy of the program that made it. A queue nobody has
// used yet may belong to a run that is just starting.
bool isStaleQueue(int id) {
    msqid_ds ds;
    if (msgctl(id, IPC_STAT, &ds) != 0) return false;
    const uid_t me = geteuid();
    if (ds.msg_perm.__key != IPC_PRIVATE || ds.msg_perm.uid != me || ds.msg_perm.cuid != me ||
        (ds.msg_perm.mode & 0777) != 0600)
        return false;
    LogRecord first;
    memset(&first, 0, sizeof first);
    if (msgrcv(id, &first, sizeof first.text, 0, IPC_NOWAIT | MSG_COPY) < 0 || first.type != kMarkerMsgType)
        return false;
    first.text[sizeof first.text - 1] = '\0';
    const size_t prefix = strlen(kMarkerText);
    if (strncmp(first.text, kMarkerText, prefix) != 0) return false;
    const char *maker = first.text + prefix;
    if (ds.msg_lspid == 0 && ds.msg_lrpid == 0) return time(nullptr) - ds.msg_ctime >= kFreshQueueS;
    return !runs(ds.msg_lspid, maker) && !runs(ds.msg_lrpid, maker);
}

// Removes the queues that killed runs of the service left (a killed process
// cannot remove its own), found in the system's list of queues.
void removeStaleQueues() {
    FILE *table = fopen("/proc/sysvipc/msg", "re");
    if (table == nullptr) return;
    char line[256];
    // The heading, then one queue per line: key, id, ...
    if (fgets(line, sizeof line, table) != nullptr) {
        while (fgets(line, sizeof line, table) != nullptr) {
            long long key = 0;
            int id = -1;
            if (sscanf(line, "%lld %d", &key, &id) == 2 && key == 0 && isStaleQueue(id)) msgctl(id, IPC_RMID, nullptr);
        }
    }
    fclose(table);
}

// Creates this run's queue: private (no other program can take it over or
// find it by a key), mode 0600, marked as the service's. -1 when no queue can
// be had.
int createQueue() {
    removeStaleQueues();
    const int id = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (id < 0) return -1;
    LogRecord marker;
    memset(&marker, 0, sizeof marker);
    marker.type = kMarkerMsgType;
    char program[32];
    programOf(getpid(), program);
    snprintf(marker.text, sizeof marker.text, "%s%s", kMarkerText, program);
    msgsnd(id, &marker, sizeof marker.text, IPC_NOWAIT);
    return id;
}

}  // namespace

void vklogSetPaths(const char *logPath, const char *flagPath) {
    copyPath(m_path, logPath);
    copyPath(m_flagPath, flagPath);
}

void vklogExec() {
    // Owner-only permissions: the lines name users and fingers.
    m_msgid = createQueue();
    if (m_msgid < 0) {
        // Without a queue nothing can be logged; the service runs all the same.
        char line[128];
        snprintf(line, sizeof line, "no log queue (%s): logging is off for this run", strerror(errno));
        writeLineNoWait(STDERR_FILENO, line);
        return;
    }
    char line[64];
    snprintf(line, sizeof line, "msgget ok ,msgid = %d", m_msgid);
    vkWriteStdoutNoWait(line);
    // The flag is read here, before the first line is posted: read first by
    // the writer thread, a start-up line could come before it on a busy
    // machine and be skipped as if logging were off.
    get_veko_driver_config();

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t writer;
    int rc = pthread_create(&writer, &attr, ExecThreadLog, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        char failure[128];
        snprintf(failure, sizeof failure, "pthread_create ExecThreadLog error: %s", strerror(rc));
        writeLineNoWait(STDERR_FILENO, failure);
        exit(1);
    }
}

void vkWriteStdoutNoWait(const char *text) { writeLineNoWait(STDOUT_FILENO, text); }

uint32_t vklogDropped() { return s_dropped.load(std::memory_order_relaxed); }

void vklogRemoveQueue() {
    if (m_msgid >= 0) msgctl(m_msgid, IPC_RMID, nullptr);
}

void vklogDrain(int timeoutMs) {
    const uint32_t target = s_posted.load(std::memory_order_relaxed);
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (static_cast<int32_t>(s_written.load(std::memory_order_acquire) - target) >= 0) return;
        usleep(5000);
    }
}

bool vklogEnabled() { return s_log_show_info.load(std::memory_order_relaxed) != 0; }

void vklogtm() {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[80];
    snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
    postMsgLog(text, false);
}

void _vklogstr(const char *text) {
    if (!vklogEnabled()) return;
    postMsgLog(text != nullptr ? text : "", true);
}

void _vklog(const char *format, ...) {
    if (!vklogEnabled()) return;
    char text[kLogTextSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    postMsgLog(text, true);
}

void vklogFormatHexDump(char *out, const char *label, const uint8_t *data, uint32_t size) {
    out[0] = '\0';
    if (label != nullptr) {
        unsigned low = size & 0xFFFFu;
        snprintf(out, kLogTextSize, "[%s]\tsize:%04u(H:%04X)", label, low, low);
    }
    if (size > kDumpWarnSize) appendCut(out, kLogTextSize, "\nWARRYINT too SIZE, ONLY show 2.5K\r\n");
    if (data == nullptr) return;
    // 32 bytes per line, one blank after the first 16; every line starts with CR LF.
    // The dump stops at the last pair that still fits the record.
    size_t used = strlen(out);
    for (uint32_t i = 0; i < size; i += 2) {
        char piece[8];
        const char *sep = (i % 32 == 0) ? "\r\n" : (i % 16 == 0) ? " " : "";
        if (i + 1 < size)
            snprintf(piece, sizeof piece, "%s%02X%02X", sep, data[i], data[i + 1]);
        else
            snprintf(piece, sizeof piece, "%s%02X", sep, data[i]);
        size_t n = strlen(piece);
        if (used + n + 1 > static_cast<size_t>(kLogTextSize)) break;
        memcpy(out + used, piece, n + 1);
        used += n;
    }
}

void _vklogM(const char *label, const uint8_t *data, uint32_t size) {
    if (!vklogEnabled()) return;
    char entry[kLogTextSize];
    vklogFormatHexDump(entry, label, data, size);
    postMsgLog(entry, false);
}
