#include "login_session.h"

namespace vekopam {

namespace {

constexpr const char *kLogind = "org.freedesktop.login1";
constexpr const char *kLogindPath = "/org/freedesktop/login1";
constexpr const char *kManager = "org.freedesktop.login1.Manager";
constexpr const char *kSession = "org.freedesktop.login1.Session";

// A boolean property of the session at `path`: 1 true, 0 false, -1 not known.
int sessionFlag(vekobus::ServiceClient &bus, const char *path, const char *property, int timeoutMs) {
    const char *interface = kSession;
    vekobus::CallResult got =
        bus.callOther(kLogind, path, DBUS_INTERFACE_PROPERTIES, "Get", timeoutMs, DBUS_TYPE_STRING, &interface,
                      DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
    DBusMessageIter args, value;
    if (got.status != vekobus::Call::kReplied || !dbus_message_iter_init(got.reply.get(), &args) ||
        dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_VARIANT)
        return -1;
    dbus_message_iter_recurse(&args, &value);
    if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_BOOLEAN) return -1;
    dbus_bool_t flag = FALSE;
    dbus_message_iter_get_basic(&value, &flag);
    return flag ? 1 : 0;
}

}  // namespace

Place placeOf(vekobus::ServiceClient &bus, pid_t pid, int timeoutMs, std::string &why) {
    const dbus_uint32_t process = static_cast<dbus_uint32_t>(pid);
    vekobus::CallResult session = bus.callOther(kLogind, kLogindPath, kManager, "GetSessionByPID", timeoutMs,
                                                DBUS_TYPE_UINT32, &process, DBUS_TYPE_INVALID);
    const char *path = nullptr;
    if (session.status != vekobus::Call::kReplied ||
        !dbus_message_get_args(session.reply.get(), nullptr, DBUS_TYPE_OBJECT_PATH, &path, DBUS_TYPE_INVALID)) {
        // No logind, or a process outside any session (a system service):
        // nothing is known, and nothing changes.
        why = "logind knows no session of this process (" +
              (session.errorName.empty() ? std::string("no answer") : session.errorName) + ")";
        return Place::kHere;
    }
    if (sessionFlag(bus, path, "Remote", timeoutMs) == 1) {
        why = std::string("the session ") + path + " is remote";
        return Place::kRemote;
    }
    if (sessionFlag(bus, path, "Active", timeoutMs) == 0) {
        why = std::string("the session ") + path + " is not active";
        return Place::kInactive;
    }
    why = std::string("the session ") + path + " is local and active";
    return Place::kHere;
}

}  // namespace vekopam
