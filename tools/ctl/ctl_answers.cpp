#include "ctl_answers.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "i18n.h"

namespace ctl {

int jsonInt(const std::string &json, const char *key) {
    const std::string quoted = std::string("\"") + key + "\"";
    size_t at = json.find(quoted);
    if (at == std::string::npos) return -1;
    at += quoted.size();
    while (at < json.size() && (json[at] == ' ' || json[at] == ':')) ++at;
    long value = 0;
    size_t digits = 0;
    while (at < json.size() && std::isdigit(static_cast<unsigned char>(json[at])) && digits < 9) {
        value = value * 10 + (json[at] - '0');
        ++at;
        ++digits;
    }
    return digits == 0 ? -1 : static_cast<int>(value);
}

std::string format(const char *text, ...) {
    va_list args;
    va_start(args, text);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, text, args);
    va_end(args);
    std::string out(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(out.data(), out.size() + 1, text, again);
    va_end(again);
    return out;
}

std::string jsonString(const std::string &json, const char *key) {
    const std::string quoted = std::string("\"") + key + "\"";
    size_t at = json.find(quoted);
    if (at == std::string::npos) return "";
    at = json.find('"', at + quoted.size());
    if (at == std::string::npos) return "";
    const size_t end = json.find('"', at + 1);
    return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
}

std::string describeFailure(const vekobus::CallResult &result) {
    if (result.status == vekobus::Call::kTimedOut) return _("the fingerprint service did not answer");
    const std::string &n = result.errorName;
    const std::string &m = result.errorMessage;
    if (result.status == vekobus::Call::kLost && n.empty()) return _("lost the connection to the system bus");
    if (n == DBUS_ERROR_SERVICE_UNKNOWN || n == DBUS_ERROR_NAME_HAS_NO_OWNER)
        return format(_("the fingerprint service is not running (no owner of %s on the system bus)"),
                      vekobus::kServiceName);
    if (n == DBUS_ERROR_NO_SERVER || n == DBUS_ERROR_FILE_NOT_FOUND || n == DBUS_ERROR_NO_NETWORK ||
        n == DBUS_ERROR_DISCONNECTED)
        return m.empty() ? _("cannot reach the system bus") : format(_("cannot reach the system bus: %s"), m.c_str());
    if (n == DBUS_ERROR_ACCESS_DENIED && m == vekobus::answer::kNotAuthorised)
        return _("not allowed: the system's policy (polkit) did not authorise this for your user");
    if (n == DBUS_ERROR_ACCESS_DENIED) return _("the bus refused the call");
    if (n == DBUS_ERROR_NO_REPLY || n == DBUS_ERROR_TIMEOUT || n == DBUS_ERROR_TIMED_OUT)
        return _("the fingerprint service did not answer");
    if (n == DBUS_ERROR_INVALID_ARGS) return format(_("the service rejected the arguments (%s)"), m.c_str());
    // The service's own texts, as it sends them (never translated).
    struct Meaning {
        const char *answer;
        const char *text;
    };
    namespace answer = vekobus::answer;
    static const Meaning kMeanings[] = {
        {answer::kDeviceBusy, N_("the fingerprint reader is in use by another program")},
        {answer::kNotClaimed, N_("the device is not claimed")},
        {answer::kOpenDeviceFail, N_("no fingerprint sensor found")},
        {answer::kNoDevice, N_("no fingerprint sensor found")},
        {answer::kEnrollFail, N_("the service cannot start an enrolment (invalid name, or the sensor is busy)")},
        {answer::kVerifyFail, N_("the service cannot start a verification (invalid name, or the sensor is busy)")},
        {answer::kDeleteFingerFail, N_("no such finger")},
        {answer::kDeleteAllFingersFail, N_("cannot delete the fingers of this user (invalid name)")},
        {answer::kListFingersFail, N_("cannot list the fingers of this user")},
        {answer::kRenameFingerFail, N_("cannot rename: no such finger, or the new name is taken")},
    };
    for (const Meaning &meaning : kMeanings)
        if (m == meaning.answer) return _(meaning.text);
    return format(_("the service failed: %s"), (m.empty() ? n : m).c_str());
}

}  // namespace ctl
