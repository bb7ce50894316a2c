#include "request_checks.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace vekopam {

namespace {

constexpr size_t kLongestName = 58;

}  // namespace

bool isFingerOwnerName(const std::string &user) {
    if (user.empty() || user.size() > kLongestName || user[0] == '.') return false;
    for (unsigned char c : user)
        if (c == '/' || c < 0x20 || c == 0x7f) return false;
    return dbus_validate_utf8(user.c_str(), nullptr);
}

bool isRemoteRequest(pam_handle_t *pamh, std::string &why) {
    const void *item = nullptr;
    if (pam_get_item(pamh, PAM_RHOST, &item) != PAM_SUCCESS || item == nullptr) return false;
    const std::string rhost = static_cast<const char *>(item);
    if (rhost.empty() || rhost == "localhost" || rhost == "127.0.0.1" || rhost == "::1") return false;
    // sudo names the local machine as the remote host.
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
        const std::string local = host;
        if (rhost == local || rhost == local.substr(0, local.find('.'))) return false;
    }
    why = "the request comes from the remote host " + rhost.substr(0, 100);
    return true;
}

}  // namespace vekopam
