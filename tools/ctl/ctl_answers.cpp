#include "ctl_answers.h"

#include <cctype>

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
    if (result.status == vekobus::Call::kTimedOut) return "the fingerprint service did not answer";
    const std::string &n = result.errorName;
    const std::string &m = result.errorMessage;
    if (result.status == vekobus::Call::kLost && n.empty()) return "lost the connection to the system bus";
    if (n == DBUS_ERROR_SERVICE_UNKNOWN || n == DBUS_ERROR_NAME_HAS_NO_OWNER)
        return std::string("the fingerprint service is not running (no owner of ") + vekobus::kServiceName +
               " on the system bus)";
    if (n == DBUS_ERROR_NO_SERVER || n == DBUS_ERROR_FILE_NOT_FOUND || n == DBUS_ERROR_NO_NETWORK ||
        n == DBUS_ERROR_DISCONNECTED)
        return "cannot reach the system bus" + (m.empty() ? std::string() : ": " + m);
    if (n == DBUS_ERROR_ACCESS_DENIED && m == "not authorised.")
        return "not allowed: the system's policy (polkit) did not authorise this for your user";
    if (n == DBUS_ERROR_ACCESS_DENIED) return "the bus refused the call";
    if (n == DBUS_ERROR_NO_REPLY || n == DBUS_ERROR_TIMEOUT || n == DBUS_ERROR_TIMED_OUT)
        return "the fingerprint service did not answer";
    if (n == DBUS_ERROR_INVALID_ARGS) return "the service rejected the arguments (" + m + ")";
    if (m == "device busy.") return "the fingerprint reader is in use by another program";
    if (m == "not claimed.") return "the device is not claimed";
    if (m == "OpenDevice fail." || m == "No Device.") return "no fingerprint sensor found";
    if (m == "Enroll fail.") return "the service cannot start an enrolment (invalid name, or the sensor is busy)";
    if (m == "Verify fail.") return "the service cannot start a verification (invalid name, or the sensor is busy)";
    if (m == "DeleteFinger fail.") return "no such finger";
    if (m == "DeleteAllFingers fail.") return "cannot delete the fingers of this user (invalid name)";
    if (m == "ListFingers fail.") return "cannot list the fingers of this user";
    if (m == "RenameFinger fail.") return "cannot rename: no such finger, or the new name is taken";
    return "the service failed: " + (m.empty() ? n : m);
}

}  // namespace ctl
