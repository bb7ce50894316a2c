#include "recognition_setting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "log.h"

namespace {

constexpr size_t kPathSize = 256;
// A longer file is not a configuration file of ours.
constexpr size_t kMaxConfigBytes = 4096;

char g_configPath[kPathSize] = "/etc/veko2547/veko2547.conf";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

void vkSetConfigPath(const char *path) {
    if (path == nullptr || path[0] == '\0' || strlen(path) >= kPathSize) return;
    strcpy(g_configPath, path);
}

int vkParseRecognitionProfile(const char *text) {
    int profile = 0;
    const char *line = text;
    while (*line != '\0') {
        const char *end = strchr(line, '\n');
        const size_t length = end ? static_cast<size_t>(end - line) : strlen(line);
        size_t b = 0, e = length;
        while (b < e && isSpace(line[b])) ++b;
        while (e > b && isSpace(line[e - 1])) --e;
        if (b < e && line[b] != '#') {
            // key = value, spaces allowed around both
            const char *eq = static_cast<const char *>(memchr(line + b, '=', e - b));
            if (eq == nullptr) return 0;
            size_t keyEnd = static_cast<size_t>(eq - line);
            while (keyEnd > b && isSpace(line[keyEnd - 1])) --keyEnd;
            size_t valueBegin = static_cast<size_t>(eq - line) + 1;
            while (valueBegin < e && isSpace(line[valueBegin])) ++valueBegin;
            if (keyEnd - b != 7 || strncmp(line + b, "profile", 7) != 0) return 0;
            if (e - valueBegin != 1 || line[valueBegin] < '1' || line[valueBegin] > '3') return 0;
            if (profile != 0) return 0;  // given twice
            profile = line[valueBegin] - '0';
        }
        if (end == nullptr) break;
        line = end + 1;
    }
    return profile;
}

int vkReadRecognitionProfile() {
    // No links: the file is root's, and a link could point the service at
    // anything.
    const int fd = open(g_configPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        _vklog("config %s not readable, profile %d", g_configPath, kDefaultRecognitionProfile);
        return kDefaultRecognitionProfile;
    }
    char text[kMaxConfigBytes + 2] = {};
    size_t got = 0;
    for (;;) {
        const ssize_t n = read(fd, text + got, sizeof text - 1 - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
        if (got >= sizeof text - 1) break;
    }
    close(fd);
    const int profile =
        got > kMaxConfigBytes || memchr(text, '\0', got) != nullptr ? 0 : vkParseRecognitionProfile(text);
    if (profile == 0) {
        _vklog("config %s malformed, profile %d", g_configPath, kDefaultRecognitionProfile);
        return kDefaultRecognitionProfile;
    }
    return profile;
}
