#include "ctl_bus.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

namespace ctl {

namespace {

// Generous: a stop waits up to 0.8 s for a worker, and the service looks at
// its queue only about once a second.
constexpr int kCallTimeoutMs = 20000;
constexpr int kOwnerTimeoutMs = 5000;

struct ErrorGuard {
    DBusError e;
    ErrorGuard() { dbus_error_init(&e); }
    ~ErrorGuard() { dbus_error_free(&e); }
    void into(CallError &out) const {
        out.name = e.name ? e.name : "";
        out.message = e.message ? e.message : "";
    }
};

}  // namespace

Bus::~Bus() {
    if (conn_ != nullptr) dbus_connection_unref(conn_);
}

bool Bus::connect(CallError &error) {
    ErrorGuard err;
    conn_ = dbus_bus_get(DBUS_BUS_SYSTEM, &err.e);
    if (conn_ == nullptr) {
        err.into(error);
        if (error.name.empty()) error.name = DBUS_ERROR_NO_SERVER;
        return false;
    }
    // A lost bus must not end the process before the client has reported it.
    dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    return true;
}

MessagePtr Bus::call(const char *interface, const char *member, CallError &error, int firstType, ...) {
    MessagePtr msg(dbus_message_new_method_call(kBusName, kObjectPath, interface, member));
    if (!msg) {
        error = {DBUS_ERROR_NO_MEMORY, "out of memory"};
        return nullptr;
    }
    va_list args;
    va_start(args, firstType);
    const bool appended = dbus_message_append_args_valist(msg.get(), firstType, args);
    va_end(args);
    if (!appended) {
        error = {DBUS_ERROR_NO_MEMORY, "out of memory"};
        return nullptr;
    }
    ErrorGuard err;
    MessagePtr reply(dbus_connection_send_with_reply_and_block(conn_, msg.get(), kCallTimeoutMs, &err.e));
    if (!reply) err.into(error);
    return reply;
}

bool Bus::watchStatus(CallError &error) {
    ErrorGuard err;
    const std::string rule = std::string("type='signal',sender='") + kBusName + "',interface='" + kInterface +
                             "',path='" + kObjectPath + "'";
    dbus_bus_add_match(conn_, rule.c_str(), &err.e);
    if (dbus_error_is_set(&err.e)) {
        err.into(error);
        return false;
    }
    return true;
}

std::string Bus::currentOwner() {
    MessagePtr msg(
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetNameOwner"));
    const char *name = kBusName;
    if (!msg || !dbus_message_append_args(msg.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) return {};
    ErrorGuard err;
    MessagePtr reply(dbus_connection_send_with_reply_and_block(conn_, msg.get(), kOwnerTimeoutMs, &err.e));
    const char *owner = nullptr;
    if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &owner, DBUS_TYPE_INVALID)) return {};
    return owner;
}

bool Bus::fromService(DBusMessage *msg) {
    const char *sender = dbus_message_get_sender(msg);
    if (sender == nullptr || !dbus_message_has_path(msg, kObjectPath)) return false;
    if (!owner_.empty() && owner_ == sender) return true;
    // The first status, or the service was started again: who owns the name now?
    owner_ = currentOwner();
    return !owner_.empty() && owner_ == sender;
}

Wait Bus::nextStatus(Status &out, int timeoutMs) {
    for (bool waited = false;; waited = true) {
        while (DBusMessage *raw = dbus_connection_pop_message(conn_)) {
            MessagePtr msg(raw);
            if (dbus_message_is_signal(raw, DBUS_INTERFACE_LOCAL, "Disconnected")) return Wait::kDisconnected;
            const bool enroll = dbus_message_is_signal(raw, kInterface, "EnrollStatus");
            if (!enroll && !dbus_message_is_signal(raw, kInterface, "VerifyStatus")) continue;
            // Anybody may address a signal to this connection, match rule or not:
            // only the service's own count.
            if (!fromService(raw)) continue;
            const char *id = nullptr;
            dbus_int32_t code = -1;
            const char *payload = nullptr;
            ErrorGuard err;
            if (!dbus_message_get_args(raw, &err.e, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &code, DBUS_TYPE_STRING,
                                       &payload, DBUS_TYPE_INVALID))
                continue;  // not the service's signature: not ours
            out = {enroll ? "EnrollStatus" : "VerifyStatus", id, code, payload};
            return Wait::kStatus;
        }
        // Interrupted by a signal, poll returns early: the caller looks at its flag.
        if (waited) return Wait::kNothing;
        if (!dbus_connection_read_write(conn_, timeoutMs)) return Wait::kDisconnected;
    }
}

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

std::string describeError(const CallError &error) {
    const std::string &n = error.name;
    const std::string &m = error.message;
    if (n == DBUS_ERROR_SERVICE_UNKNOWN || n == DBUS_ERROR_NAME_HAS_NO_OWNER)
        return std::string("the fingerprint service is not running (no owner of ") + kBusName + " on the system bus)";
    if (n == DBUS_ERROR_NO_SERVER || n == DBUS_ERROR_FILE_NOT_FOUND || n == DBUS_ERROR_NO_NETWORK ||
        n == DBUS_ERROR_DISCONNECTED)
        return "cannot reach the system bus" + (m.empty() ? std::string() : ": " + m);
    if (n == DBUS_ERROR_ACCESS_DENIED) return "the bus refused the call (only root may use the fingerprint service)";
    if (n == DBUS_ERROR_NO_REPLY || n == DBUS_ERROR_TIMEOUT || n == DBUS_ERROR_TIMED_OUT)
        return "the fingerprint service did not answer";
    if (n == DBUS_ERROR_INVALID_ARGS) return "the service rejected the arguments (" + m + ")";
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
