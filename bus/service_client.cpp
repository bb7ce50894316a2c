#include "service_client.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace vekobus {

namespace {

int remainingMs(long long deadline) {
    const long long left = deadline - ServiceClient::nowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool isReplyTo(DBusMessage *message, dbus_uint32_t serial) {
    const int type = dbus_message_get_type(message);
    return (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) &&
           dbus_message_get_reply_serial(message) == serial;
}

}  // namespace

long long ServiceClient::nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

long long ServiceClient::waitEnd(int timeoutMs) const {
    const long long end = nowMs() + timeoutMs;
    return deadline_ != 0 && deadline_ < end ? deadline_ : end;
}

ServiceClient::~ServiceClient() {
    if (conn_ == nullptr) return;
    // A private connection must be closed before its last reference goes.
    dbus_connection_close(conn_);
    dbus_connection_unref(conn_);
}

bool ServiceClient::open(const std::string &address, int timeoutMs, CallResult &failure) {
    ScopedDBusError error;
    conn_ = dbus_connection_open_private(address.c_str(), error.get());
    if (conn_ == nullptr) {
        failure.status = Call::kLost;
        failure.errorName = error.isSet() ? error.get()->name : DBUS_ERROR_NO_SERVER;
        failure.errorMessage = error.message();
        return false;
    }
    // Losing the bus must never end the program.
    dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    CallResult hello = callBus("Hello", timeoutMs, nullptr);
    if (hello.status != Call::kReplied) {
        failure = std::move(hello);
        if (failure.errorName.empty()) failure.errorName = DBUS_ERROR_NO_SERVER;
        return false;
    }
    return true;
}

CallResult ServiceClient::exchange(DBusMessage *message, int timeoutMs) {
    CallResult result;
    beforeReply_.clear();
    if (lost_) return result;
    dbus_uint32_t serial = 0;
    if (!dbus_connection_send(conn_, message, &serial)) return result;
    const long long deadline = waitEnd(timeoutMs);
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
            if (noteLoss(raw)) return result;
            // A status that comes in while the call waits belongs to what
            // happened before the call was answered: kept apart.
            Status status;
            if (readStatus(raw, status)) beforeReply_.push_back(std::move(status));
        }
        const int left = remainingMs(deadline);
        if (left == 0) {
            // Out of time: what can be written without waiting still goes.
            dbus_connection_read_write(conn_, 0);
            result.status = Call::kTimedOut;
            return result;
        }
        if (!dbus_connection_read_write(conn_, left)) {
            lost_ = true;
            return result;
        }
    }
}

CallResult ServiceClient::callBus(const char *member, int timeoutMs, const char *argument) {
    MessagePtr message(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, member));
    if (!message) return {};
    if (argument != nullptr && !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &argument, DBUS_TYPE_INVALID))
        return {};
    return exchange(message.get(), timeoutMs);
}

namespace {

// A call to the service: its name before the owner is known, else the owner,
// which is never replaced by a service started anew.
MessagePtr serviceCall(const std::string &owner, const char *interface, const char *member) {
    MessagePtr message(
        dbus_message_new_method_call(owner.empty() ? kServiceName : owner.c_str(), kServicePath, interface, member));
    if (message && !owner.empty()) dbus_message_set_auto_start(message.get(), FALSE);
    return message;
}

}  // namespace

CallResult ServiceClient::exchangeWith(DBusMessage *message, int timeoutMs, int firstType, va_list args) {
    if (message == nullptr || !dbus_message_append_args_valist(message, firstType, args)) return {};
    return exchange(message, timeoutMs);
}

CallResult ServiceClient::call(const char *member, int timeoutMs, int firstType, ...) {
    MessagePtr message = serviceCall(owner_, kServiceInterface, member);
    va_list args;
    va_start(args, firstType);
    CallResult result = exchangeWith(message.get(), timeoutMs, firstType, args);
    va_end(args);
    return result;
}

CallResult ServiceClient::callOther(const char *destination, const char *path, const char *interface,
                                    const char *member, int timeoutMs, int firstType, ...) {
    MessagePtr message(dbus_message_new_method_call(destination, path, interface, member));
    va_list args;
    va_start(args, firstType);
    CallResult result = exchangeWith(message.get(), timeoutMs, firstType, args);
    va_end(args);
    return result;
}

CallResult ServiceClient::getProperty(const char *property, int timeoutMs) {
    MessagePtr message = serviceCall(owner_, kPropertiesInterface, method::kGet);
    const char *interface = kServiceInterface;
    if (!message || !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                              DBUS_TYPE_INVALID))
        return {};
    return exchange(message.get(), timeoutMs);
}

bool ServiceClient::follow(const std::vector<std::string> &members, int timeoutMs, std::string &problem) {
    std::vector<std::string> rules = {std::string("type='signal',sender='") + DBUS_SERVICE_DBUS + "',path='" +
                                      DBUS_PATH_DBUS + "',interface='" + DBUS_INTERFACE_DBUS +
                                      "',member='NameOwnerChanged',arg0='" + kServiceName + "'"};
    for (const std::string &member : members)
        rules.push_back(std::string("type='signal',sender='") + kServiceName + "',path='" + kServicePath +
                        "',interface='" + kServiceInterface + "',member='" + member + "'");
    for (const std::string &rule : rules) {
        if (callBus("AddMatch", timeoutMs, rule.c_str()).status != Call::kReplied) {
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
    members_ = members;
    return true;
}

bool ServiceClient::noteLoss(DBusMessage *message) {
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

bool ServiceClient::readStatus(DBusMessage *message, Status &status) const {
    if (owner_.empty() || dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL ||
        !dbus_message_has_interface(message, kServiceInterface) || !dbus_message_has_path(message, kServicePath) ||
        !dbus_message_has_sender(message, owner_.c_str()))
        return false;
    const char *member = dbus_message_get_member(message);
    if (member == nullptr || std::find(members_.begin(), members_.end(), member) == members_.end()) return false;
    const char *id = nullptr;
    dbus_int32_t code = 0;
    const char *json = nullptr;
    // Anything but the service's own signature is not a status of the service.
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &code, DBUS_TYPE_STRING, &json,
                               DBUS_TYPE_INVALID))
        return false;
    status.member = member;
    status.id = id;
    status.code = code;
    status.json = json;
    return true;
}

Wait ServiceClient::nextStatus(Status &status, int timeoutMs) {
    const long long deadline = waitEnd(timeoutMs);
    while (!lost_) {
        while (DBusMessage *raw = dbus_connection_pop_message(conn_)) {
            MessagePtr incoming(raw);
            if (noteLoss(raw)) return Wait::kLost;
            if (readStatus(raw, status)) return Wait::kStatus;
        }
        const int left = remainingMs(deadline);
        if (left == 0) return Wait::kTimedOut;
        if (!dbus_connection_read_write(conn_, left)) lost_ = true;
    }
    return Wait::kLost;
}

}  // namespace vekobus
