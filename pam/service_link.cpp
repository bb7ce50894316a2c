#include "service_link.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

namespace vekopam {

namespace {

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int remainingMs(long long deadline) {
    const long long left = deadline - nowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool isReplyTo(DBusMessage *message, dbus_uint32_t serial) {
    const int type = dbus_message_get_type(message);
    return (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) &&
           dbus_message_get_reply_serial(message) == serial;
}

}  // namespace

ServiceLink::~ServiceLink() {
    if (conn_ == nullptr) return;
    // A private connection must be closed before its last reference goes.
    dbus_connection_close(conn_);
    dbus_connection_unref(conn_);
}

bool ServiceLink::open(const std::string &address, int timeoutMs, std::string &problem) {
    ScopedDBusError error;
    conn_ = dbus_connection_open_private(address.c_str(), error.get());
    if (conn_ == nullptr) {
        problem = std::string("cannot connect to the bus: ") + error.message();
        return false;
    }
    // Losing the bus must never end the host program.
    dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    CallResult hello = callBus("Hello", timeoutMs, nullptr);
    if (hello.status != Call::kReplied) {
        problem = "the bus did not accept the connection";
        return false;
    }
    return true;
}

CallResult ServiceLink::exchange(DBusMessage *message, int timeoutMs) {
    CallResult result;
    if (lost_) return result;
    if (unresponsive_) {
        result.status = Call::kTimedOut;
        return result;
    }
    dbus_uint32_t serial = 0;
    if (!dbus_connection_send(conn_, message, &serial)) return result;
    const long long deadline = nowMs() + timeoutMs;
    for (;;) {
        while (DBusMessage *raw = dbus_connection_pop_message(conn_)) {
            MessagePtr incoming(raw);
            if (isReplyTo(raw, serial)) {
                if (dbus_message_get_type(raw) == DBUS_MESSAGE_TYPE_ERROR) {
                    ScopedDBusError error;
                    dbus_set_error_from_message(error.get(), raw);
                    result.status = Call::kRefused;
                    const char *name = dbus_message_get_error_name(raw);
                    result.errorName = name != nullptr ? name : "";
                    result.errorMessage = error.message();
                } else {
                    result.status = Call::kReplied;
                    result.reply = std::move(incoming);
                }
                return result;
            }
            // Signals that arrive while a call waits belong to what came
            // before the call: only their news of a loss matters.
            if (noteLoss(raw)) return result;
        }
        const int left = remainingMs(deadline);
        if (left == 0) {
            unresponsive_ = true;
            result.status = Call::kTimedOut;
            return result;
        }
        if (!dbus_connection_read_write(conn_, left)) {
            lost_ = true;
            return result;
        }
    }
}

CallResult ServiceLink::callBus(const char *member, int timeoutMs, const char *argument) {
    MessagePtr message(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, member));
    if (!message) return {};
    if (argument != nullptr && !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &argument, DBUS_TYPE_INVALID))
        return {};
    return exchange(message.get(), timeoutMs);
}

CallResult ServiceLink::call(const char *member, int timeoutMs, int firstType, ...) {
    const char *destination = owner_.empty() ? kServiceName : owner_.c_str();
    MessagePtr message(dbus_message_new_method_call(destination, kServicePath, kServiceInterface, member));
    if (!message) return {};
    va_list args;
    va_start(args, firstType);
    const bool appended = dbus_message_append_args_valist(message.get(), firstType, args);
    va_end(args);
    if (!appended) return {};
    // Only the first call may start the service; a followed owner is never replaced.
    if (!owner_.empty()) dbus_message_set_auto_start(message.get(), FALSE);
    return exchange(message.get(), timeoutMs);
}

bool ServiceLink::follow(int timeoutMs, std::string &problem) {
    const std::string ownerRule = std::string("type='signal',sender='") + DBUS_SERVICE_DBUS + "',path='" +
                                  DBUS_PATH_DBUS + "',interface='" + DBUS_INTERFACE_DBUS +
                                  "',member='NameOwnerChanged',arg0='" + kServiceName + "'";
    const std::string statusRule = std::string("type='signal',sender='") + kServiceName + "',path='" + kServicePath +
                                   "',interface='" + kServiceInterface + "',member='VerifyStatus'";
    for (const std::string *rule : {&ownerRule, &statusRule}) {
        if (callBus("AddMatch", timeoutMs, rule->c_str()).status != Call::kReplied) {
            problem = "the bus refused to deliver the service's signals";
            return false;
        }
    }
    CallResult owner = callBus("GetNameOwner", timeoutMs, kServiceName);
    const char *unique = nullptr;
    if (owner.status != Call::kReplied ||
        !dbus_message_get_args(owner.reply.get(), nullptr, DBUS_TYPE_STRING, &unique, DBUS_TYPE_INVALID) ||
        unique[0] == '\0') {
        problem = "the service left the bus";
        return false;
    }
    owner_ = unique;
    return true;
}

bool ServiceLink::noteLoss(DBusMessage *message) {
    if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected")) {
        lost_ = true;
    } else if (!owner_.empty() && dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
               dbus_message_has_sender(message, DBUS_SERVICE_DBUS)) {
        const char *name = nullptr;
        const char *oldOwner = nullptr;
        const char *newOwner = nullptr;
        if (dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                                  DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID) &&
            std::strcmp(name, kServiceName) == 0 && owner_ == oldOwner)
            lost_ = true;
    }
    return lost_;
}

bool ServiceLink::readStatus(DBusMessage *message, VerifyStatus &status) const {
    if (!dbus_message_is_signal(message, kServiceInterface, "VerifyStatus") ||
        !dbus_message_has_path(message, kServicePath) || !dbus_message_has_sender(message, owner_.c_str()))
        return false;
    const char *id = nullptr;
    dbus_int32_t code = 0;
    const char *json = nullptr;
    // Anything but the service's own signature is not a status of the service.
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &code, DBUS_TYPE_STRING, &json,
                               DBUS_TYPE_INVALID))
        return false;
    status.id = id;
    status.code = code;
    status.json = json;
    return true;
}

Wait ServiceLink::nextStatus(VerifyStatus &status, int timeoutMs) {
    const long long deadline = nowMs() + timeoutMs;
    while (!lost_) {
        while (DBusMessage *raw = dbus_connection_pop_message(conn_)) {
            MessagePtr incoming(raw);
            if (noteLoss(raw)) return Wait::kLost;
            if (!owner_.empty() && readStatus(raw, status)) return Wait::kStatus;
        }
        const int left = remainingMs(deadline);
        if (left == 0) return Wait::kTimedOut;
        if (!dbus_connection_read_write(conn_, left)) lost_ = true;
    }
    return Wait::kLost;
}

}  // namespace vekopam
