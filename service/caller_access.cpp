#include "caller_access.h"

#include <pwd.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "dbus_handles.h"
#include "log.h"
#include "status_signals.h"

namespace {

namespace method = vekobus::method;

// The bus answers at once; this only guards against a bus that hangs.
constexpr int kBusAnswerMs = 1000;
// A question that may wait for a person typing a password.
constexpr long long kPolkitAnswerMs = 120000;
// Questions waiting for polkit at once, in all and per connection: a caller
// cannot keep the others' questions from being asked.
constexpr int kMostWaiting = 16;
constexpr int kMostWaitingPerCaller = 4;
// Callers remembered: a unique name never changes its user.
constexpr int kRememberedCallers = 8;
constexpr size_t kBusNameSize = 256;

constexpr const char *kPolkitName = "org.freedesktop.PolicyKit1";
constexpr const char *kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char *kPolkitInterface = "org.freedesktop.PolicyKit1.Authority";
// CheckAuthorization flag: polkit may ask the person for a password.
constexpr dbus_uint32_t kAllowUserInteraction = 1;

struct KnownCaller {
    char bus[kBusNameSize] = {};
    Caller caller;
};
KnownCaller s_known[kRememberedCallers];
int s_nextKnown = 0;

struct Waiting {
    dbus_uint32_t serial = 0;  // 0: free
    DBusMessage *call = nullptr;
    AccessResume resume = nullptr;
    long long deadline = 0;
};
Waiting s_waiting[kMostWaiting];

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char *actionId(Access access) {
    switch (access) {
    case Access::kVerify:
        return "com.vekoid.fprint.verify";
    case Access::kEnroll:
        return "com.vekoid.fprint.enroll";
    case Access::kManage:
    case Access::kFree:
        break;
    }
    return "com.vekoid.fprint.manage";
}

// Asks the bus which user the connection `bus` runs as.
Caller askBus(const char *bus) {
    Caller caller;
    MessagePtr ask(
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixUser"));
    if (!ask || !dbus_message_append_args(ask.get(), DBUS_TYPE_STRING, &bus, DBUS_TYPE_INVALID)) return caller;
    ScopedDBusError error;
    MessagePtr reply(dbus_connection_send_with_reply_and_block(m_conn, ask.get(), kBusAnswerMs, error.get()));
    dbus_uint32_t uid = 0;
    if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID))
        return caller;
    caller.known = true;
    caller.uid = uid;
    passwd entry;
    passwd *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        strlen(found->pw_name) < sizeof caller.name)
        snprintf(caller.name, sizeof caller.name, "%s", found->pw_name);
    return caller;
}

// The first argument of `call` when it is a string, else null.
const char *firstString(DBusMessage *call) {
    DBusMessageIter args;
    if (!dbus_message_iter_init(call, &args) || dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_STRING)
        return nullptr;
    const char *value = nullptr;
    dbus_message_iter_get_basic(&args, &value);
    return value;
}

int waitingFrom(const char *sender) {
    int count = 0;
    for (const Waiting &w : s_waiting)
        if (w.serial != 0 && strcmp(dbus_message_get_sender(w.call), sender) == 0) ++count;
    return count;
}

void finish(Waiting &w, bool allowed) {
    DBusMessage *call = w.call;
    const AccessResume resume = w.resume;
    w = Waiting{};
    resume(call, allowed);
    dbus_message_unref(call);
}

}  // namespace

bool Caller::owns(const char *id) const { return name[0] != '\0' && id != nullptr && strcmp(id, name) == 0; }

Caller vkCallerOf(DBusMessage *call) {
    const char *bus = dbus_message_get_sender(call);
    if (bus == nullptr || m_conn == nullptr) return Caller{};
    for (const KnownCaller &known : s_known)
        if (strcmp(known.bus, bus) == 0) return known.caller;
    const Caller caller = askBus(bus);
    if (!caller.known) return caller;
    KnownCaller &slot = s_known[s_nextKnown];
    s_nextKnown = (s_nextKnown + 1) % kRememberedCallers;
    snprintf(slot.bus, sizeof slot.bus, "%s", bus);
    slot.caller = caller;
    return caller;
}

Access vkAccessNeeded(DBusMessage *call, const Caller &caller) {
    const char *member = dbus_message_get_member(call);
    if (!dbus_message_has_interface(call, vekobus::kServiceInterface) || member == nullptr) return Access::kFree;
    if (strcmp(member, method::kVerify) == 0) return Access::kVerify;
    const bool ownFinger = strcmp(member, method::kEnroll) == 0 || strcmp(member, method::kDeleteFinger) == 0 ||
                           strcmp(member, method::kDeleteAllFingers) == 0 || strcmp(member, method::kRenameFinger) == 0;
    const bool list = strcmp(member, method::kListFingers) == 0;
    const bool claim = strcmp(member, method::kClaim) == 0;
    if (!ownFinger && !list && !claim) return Access::kFree;
    const char *id = firstString(call);
    if (id == nullptr) return Access::kFree;
    if (claim) {
        dbus_bool_t on = FALSE;
        if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &on, DBUS_TYPE_INVALID) ||
            !on)
            return Access::kFree;
    }
    if (!caller.owns(id)) return Access::kManage;
    return ownFinger ? Access::kEnroll : Access::kFree;
}

bool vkAskPolkit(DBusMessage *call, Access access, AccessResume resume) {
    const char *sender = dbus_message_get_sender(call);
    if (m_conn == nullptr || sender == nullptr || waitingFrom(sender) >= kMostWaitingPerCaller) return false;
    Waiting *slot = nullptr;
    for (Waiting &w : s_waiting)
        if (w.serial == 0) slot = &w;
    if (slot == nullptr) return false;

    MessagePtr ask(dbus_message_new_method_call(kPolkitName, kPolkitPath, kPolkitInterface, "CheckAuthorization"));
    if (!ask) return false;
    // CheckAuthorization((sa{sv}) subject, s action, a{ss} details, u flags, s cancellation)
    DBusMessageIter args, subject, properties, entry, variant, details;
    const char *kind = "system-bus-name";
    const char *key = "name";
    const char *action = actionId(access);
    const char *cancellation = "";
    // Only the actions whose default asks for a password may ask for one.
    const dbus_uint32_t flags = access == Access::kVerify ? 0 : kAllowUserInteraction;
    dbus_message_iter_init_append(ask.get(), &args);
    bool ok = dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &subject) &&
              dbus_message_iter_append_basic(&subject, DBUS_TYPE_STRING, &kind) &&
              dbus_message_iter_open_container(&subject, DBUS_TYPE_ARRAY, "{sv}", &properties) &&
              dbus_message_iter_open_container(&properties, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
              dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
              dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant) &&
              dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &sender) &&
              dbus_message_iter_close_container(&entry, &variant) &&
              dbus_message_iter_close_container(&properties, &entry) &&
              dbus_message_iter_close_container(&subject, &properties) &&
              dbus_message_iter_close_container(&args, &subject) &&
              dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &action) &&
              dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{ss}", &details) &&
              dbus_message_iter_close_container(&args, &details) &&
              dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &flags) &&
              dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &cancellation);
    dbus_uint32_t serial = 0;
    if (!ok || !dbus_connection_send(m_conn, ask.get(), &serial)) return false;
    dbus_connection_flush(m_conn);
    _vklog("polkit %s for %s", action, sender);
    slot->serial = serial;
    slot->call = dbus_message_ref(call);
    slot->resume = resume;
    slot->deadline = nowMs() + kPolkitAnswerMs;
    return true;
}

bool vkPolkitReply(DBusMessage *reply) {
    const dbus_uint32_t serial = dbus_message_get_reply_serial(reply);
    for (Waiting &w : s_waiting) {
        if (w.serial == 0 || w.serial != serial) continue;
        // (bba{ss}): authorised, challenge, details. An error (no polkit on
        // the bus, say) is a refusal.
        bool allowed = false;
        DBusMessageIter args, result;
        if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN && dbus_message_iter_init(reply, &args) &&
            dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_STRUCT) {
            dbus_message_iter_recurse(&args, &result);
            if (dbus_message_iter_get_arg_type(&result) == DBUS_TYPE_BOOLEAN) {
                dbus_bool_t authorised = FALSE;
                dbus_message_iter_get_basic(&result, &authorised);
                allowed = authorised != FALSE;
            }
        }
        _vklog("polkit %s", allowed ? "allowed" : "refused");
        finish(w, allowed);
        return true;
    }
    return false;
}

void vkPolkitExpire() {
    const long long now = nowMs();
    for (Waiting &w : s_waiting) {
        if (w.serial == 0 || now < w.deadline) continue;
        _vklogstr("polkit did not answer");
        finish(w, false);
    }
}
