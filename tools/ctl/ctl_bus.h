// The client's side of the bus: one connection to the system bus, method
// calls to the fingerprint service, and the service's status signals.
#pragma once

#include <dbus/dbus.h>

#include <memory>
#include <string>

namespace ctl {

inline constexpr const char *kBusName = "com.vekoid.fprint";
inline constexpr const char *kInterface = "com.vekoid.fprint";
inline constexpr const char *kObjectPath = "/com/vekoid";
inline constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";

struct MessageUnref {
    void operator()(DBusMessage *m) const { dbus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// A failed call: the D-Bus error name and message (both empty on success).
struct CallError {
    std::string name;
    std::string message;
};

// One EnrollStatus or VerifyStatus signal.
struct Status {
    std::string member;
    std::string id;
    int code = -1;
    std::string payload;
};

// Result of waiting for a status signal.
enum class Wait { kStatus, kNothing, kDisconnected };

class Bus {
  public:
    Bus() = default;
    ~Bus();
    Bus(const Bus &) = delete;
    Bus &operator=(const Bus &) = delete;

    // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
    bool connect(CallError &error);

    // Calls `member` of `interface` on the service with the arguments that
    // follow (libdbus type/pointer pairs ended by DBUS_TYPE_INVALID); returns
    // the reply, or null with `error` filled.
    MessagePtr call(const char *interface, const char *member, CallError &error, int firstType, ...);

    // Starts receiving the service's status signals; call before the method
    // that causes them (a refusal arrives before the method's own reply).
    bool watchStatus(CallError &error);

    // Waits up to `timeoutMs` for the next status signal; signals that came
    // in while a call was waiting for its reply are delivered first. Only
    // signals from the current owner of the service's name, on its object
    // path and interface, count; others are dropped.
    Wait nextStatus(Status &out, int timeoutMs);

  private:
    // The unique name that owns kBusName now, or "" when none does.
    std::string currentOwner();
    // Whether a status signal comes from the service (its owner and path).
    bool fromService(DBusMessage *msg);

    DBusConnection *conn_ = nullptr;
    std::string owner_;
};

// The integer value of `key` in one of the service's flat JSON texts
// ({"progress":50}, {"subcode":3}); -1 when the key or a number is missing.
int jsonInt(const std::string &json, const char *key);

// One line saying what a failed call means for the user.
std::string describeError(const CallError &error);

}  // namespace ctl
