// Diagnostic log: posters queue lines, one writer thread writes them out.
#include "log.h"

#include <pthread.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

int m_msgid = -1;
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
        if (msgsnd(m_msgid, &rec, sizeof rec.text, 0) == 0) {
            s_posted.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (errno != EINTR) return;
    }
}

void get_veko_driver_config() {
    FILE *flag = fopen(m_flagPath, "r");
    s_log_show_info.store(flag != nullptr ? 1 : 0, std::memory_order_relaxed);
    if (flag != nullptr) fclose(flag);
}

void veko_log_file_check() {
    struct stat st;
    if (stat(m_path, &st) == 0 && st.st_size > kLogFileSizeLimit) remove(m_path);
}

void *ExecThreadLog(void *) {
    // Read the flag once before the first line, so the lines posted right after
    // start-up are not dropped for want of a first record.
    get_veko_driver_config();
    for (;;) {
        LogRecord rec;
        memset(&rec, 0, sizeof rec);
        if (msgrcv(m_msgid, &rec, sizeof rec.text, kLogMsgType, 0) < 0) {
            // A removed queue cannot deliver again; anything else is retried.
            if (errno == EIDRM || errno == EINVAL) return nullptr;
            if (errno != EINTR) perror("msgrcv");
            continue;
        }
        rec.text[sizeof rec.text - 1] = '\0';
        get_veko_driver_config();
        veko_log_file_check();
        if (FILE *file = fopen(m_path, "ab")) {
            fputs(rec.text, file);
            fputc('\n', file);
            fclose(file);
        }
        fputs(rec.text, stdout);
        fputc('\n', stdout);
        fflush(stdout);
        s_written.fetch_add(1, std::memory_order_release);
    }
}

}  // namespace

void vklogSetPaths(const char *logPath, const char *flagPath) {
    copyPath(m_path, logPath);
    copyPath(m_flagPath, flagPath);
}

void vklogExec() {
    // Owner-only permissions: the queue is private to this process anyway.
    m_msgid = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (m_msgid < 0) {
        printf("msgget failed\n");
        fflush(stdout);
        exit(1);
    }
    printf("msgget ok ,msgid = %d\n", m_msgid);
    fflush(stdout);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t writer;
    int rc = pthread_create(&writer, &attr, ExecThreadLog, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        perror("pthread_create ExecThreadLog error");
        exit(1);
    }
}

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
