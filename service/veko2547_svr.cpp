// veko2547_svr: owns the fingerprint sensor and answers the authentication
// framework on the system bus as "com.vekoid.fprint".
//
// One thread reads the bus and handles the calls in order (bus_loop); the
// workers send their status signals on the same connection.
#include <dbus/dbus.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bus_loop.h"
#include "caller_access.h"
#include "dbus_handles.h"
#include "device_claim.h"
#include "finger_store.h"
#include "introspection.h"
#include "log.h"
#include "operations.h"
#include "recognition_setting.h"
#include "status_signals.h"
#include "worker_control.h"

namespace {

constexpr const char *kVersion = "1.1.0.4";
namespace answer = vekobus::answer;
namespace method = vekobus::method;
namespace property = vekobus::property;
using vekobus::kPropertiesInterface;
using vekobus::kServiceInterface;

// Pause after starting the log so the writer has read the flag file once.
constexpr useconds_t kLogStartPauseUs = 100000;
// Names are kept in 64-byte fields and become file names under the store root.
constexpr size_t kNameFieldSize = 64;

// Property values.
constexpr const char *kPropName = "Veko2547";
constexpr dbus_int32_t kPropType = 2;
constexpr dbus_int32_t kPropCapability = 1;

const char *orNull(const char *text) { return text != nullptr ? text : "(null)"; }

// The caller of the call being handled.
Caller s_caller;

// ---- replies ----

void sendAndFlush(DBusMessage *reply, const char *sendFailText) {
    if (!dbus_connection_send(m_conn, reply, nullptr)) {
        _vklogstr(sendFailText);
        return;
    }
    // The caller is waiting; do not leave the reply to the next loop pass.
    dbus_connection_flush(m_conn);
}

void replyEmpty(DBusMessage *call) {
    MessagePtr reply(dbus_message_new_method_return(call));
    if (!reply) {
        _vklogstr("No memory");
        return;
    }
    sendAndFlush(reply.get(), "No memory");
}

void replyError(DBusMessage *call, const char *name, const char *text) {
    MessagePtr reply(dbus_message_new_error(call, name, text));
    if (!reply) {
        _vklogstr("No memory");
        return;
    }
    _vklogstr("ret err");
    sendAndFlush(reply.get(), "send fail");
}

void replyFailed(DBusMessage *call, const char *text) { replyError(call, answer::kErrorFailed, text); }

// Decodes the call's arguments; on failure answers InvalidArgs and returns false.
template <typename... Args>
bool decodeArgs(DBusMessage *call, Args... args) {
    ScopedDBusError error;
    if (dbus_message_get_args(call, error.get(), args..., DBUS_TYPE_INVALID)) return true;
    replyError(call, answer::kErrorInvalidArgs, answer::kInvalidArgs);
    return false;
}

// A user id or finger name becomes one path component under the store root;
// names that could leave the directory, hide a file or hold control
// characters are refused before anything touches the disk.
bool isStoreName(const char *name) { return vkIsStoreName(name); }

// ---- handlers ----

// Whether the caller may act on the claimed device: it holds the claim, or
// (`unclaimedToo`) nobody does. Otherwise answers answer::kNotClaimed.
bool mayUseDevice(DBusMessage *call, bool unclaimedToo) {
    const char *sender = dbus_message_get_sender(call);
    if (vkClaimHeldBy(sender) || (unclaimedToo && !m_claimed)) return true;
    if (m_claimed) _vklog("claimed by %s, refused %s", vkClaimHolder(), orNull(sender));
    replyFailed(call, answer::kNotClaimed);
    return false;
}

// Ends the session of a claim: a running enrolment or verification ends with
// its stop signal, the sensor is closed and the claim given back.
void releaseClaim() {
    vkStopWorkersAndClose();
    vkClaimDrop();
}

void handle_claim(DBusMessage *call) {
    const char *id = nullptr;
    dbus_bool_t claimed = FALSE;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &claimed)) return;
    _vklog("--rcved: id=%s claimed=%d", id, claimed ? 1 : 0);
    const char *sender = dbus_message_get_sender(call);
    if (claimed) {
        if (vkClaimHeldByOther(sender)) {
            _vklog("claimed by %s, refused %s", vkClaimHolder(), orNull(sender));
            return replyFailed(call, answer::kDeviceBusy);
        }
        vkClaimTake(sender, id);
    } else {
        if (!mayUseDevice(call, true)) return;
        releaseClaim();
    }
    replyEmpty(call);
}

void handle_Enroll(DBusMessage *call) {
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger)) return;
    _vklog("--rcved: id=%s, finger=%s", id, finger);
    if (!mayUseDevice(call, false)) return;
    if (!isStoreName(id) || !isStoreName(finger)) return replyFailed(call, answer::kEnrollFail);
    // The sensor is reopened below: a running worker must end first.
    if (!vkStopAllWorkers()) return replyFailed(call, answer::kEnrollFail);
    if (vkOpenDev() != 0) return replyFailed(call, answer::kOpenDeviceFail);
    if (vkEnrollFp(id, finger) != 0) return replyFailed(call, answer::kEnrollFail);
    replyEmpty(call);
}

void handle_StopEnroll(DBusMessage *call) {
    if (!mayUseDevice(call, false)) return;
    vkStopEnroll();
    replyEmpty(call);
}

void handle_Verify(DBusMessage *call) {
    const char *finger = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &finger)) return;
    _vklog("--rcved: finger=%s", finger);
    if (!mayUseDevice(call, false)) return;
    // The finger only filters stored names; empty and "any" mean every finger.
    if (finger[0] != '\0' && strcmp(finger, "any") != 0 && !isStoreName(finger))
        return replyFailed(call, answer::kVerifyFail);
    if (!vkStopAllWorkers()) return replyFailed(call, answer::kVerifyFail);
    if (vkOpenDev() != 0) return replyFailed(call, answer::kNoDevice);
    // A user other than root verifies against the fingers the device is
    // claimed for (their own, unless polkit let them claim another's) only.
    if (vkVerifyFp(finger, !s_caller.isRoot()) != 0) return replyFailed(call, answer::kVerifyFail);
    replyEmpty(call);
}

void handle_StopVerify(DBusMessage *call) {
    if (!mayUseDevice(call, true)) return;
    vkStopVerify();
    replyEmpty(call);
}

void handle_DeleteFinger(DBusMessage *call) {
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger)) return;
    _vklog("--rcved: id=%s finger=%s", id, finger);
    if (!isStoreName(id) || !isStoreName(finger) || vkDelFp(id, finger) != 0)
        return replyFailed(call, answer::kDeleteFingerFail);
    replyEmpty(call);
}

void handle_DeleteAllFingers(DBusMessage *call) {
    const char *id = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id)) return;
    _vklog("--rcved: id=%s", id);
    // Nothing is ever removed outside a user's own directory.
    if (!isStoreName(id)) return replyFailed(call, answer::kDeleteAllFingersFail);
    // A user without fingers has nothing to delete: that is no failure. A
    // file that could not be removed is.
    if (vkDelAllFp(id) == -2) return replyFailed(call, answer::kDeleteAllFingersFail);
    replyEmpty(call);
}

// Appends `count` consecutive NUL-terminated names from `list` as one array.
// An empty list is sent as an empty array of string-to-string entries, which
// is what the client has always received for a user without fingers.
bool appendFingerList(DBusMessage *reply, const char *list, int32_t count) {
    DBusMessageIter args;
    DBusMessageIter array;
    dbus_message_iter_init_append(reply, &args);
    const char *elementSig = count > 0 ? DBUS_TYPE_STRING_AS_STRING : "{ss}";
    if (!dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, elementSig, &array)) return false;
    const char *name = list;
    const char *end = list + kNameListSize;
    bool ok = true;
    for (int32_t i = 0; i < count && ok && name < end; ++i) {
        size_t len = strnlen(name, static_cast<size_t>(end - name));
        if (name + len == end) break;  // unterminated: the list ends here
        // libdbus aborts on a string that is not UTF-8; such a file name is skipped.
        if (dbus_validate_utf8(name, nullptr)) ok = dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &name);
        name += len + 1;
    }
    if (!ok) {
        dbus_message_iter_abandon_container(&args, &array);
        return false;
    }
    return dbus_message_iter_close_container(&args, &array);
}

void handle_ListFingers(DBusMessage *call) {
    const char *id = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id)) return;
    _vklog("--rcved: id=%s", id);
    char list[kNameListSize];
    memset(list, 0, sizeof list);
    int32_t count = 0;
    if (!isStoreName(id) || vkLstFp(id, list, &count) != 0) return replyFailed(call, answer::kListFingersFail);
    _vklog("num=%d", count);
    MessagePtr reply(dbus_message_new_method_return(call));
    if (!reply || !appendFingerList(reply.get(), list, count)) {
        _vklogstr("No memory");
        return;
    }
    sendAndFlush(reply.get(), "No memory");
}

void handle_RenameFinger(DBusMessage *call) {
    const char *id = nullptr;
    const char *finger = nullptr;
    const char *newname = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger, DBUS_TYPE_STRING, &newname)) return;
    _vklog("--rcved: id=%s finger=%s newname=%s", id, finger, newname);
    if (!isStoreName(id) || !isStoreName(finger) || !isStoreName(newname) || vkRenameFp(id, finger, newname) != 0)
        return replyFailed(call, answer::kRenameFingerFail);
    replyEmpty(call);
}

void replyValue(DBusMessage *call, int type, const void *value) {
    MessagePtr reply(dbus_message_new_method_return(call));
    if (!reply || !dbus_message_append_args(reply.get(), type, value, DBUS_TYPE_INVALID)) {
        _vklogstr("No memory");
        return;
    }
    sendAndFlush(reply.get(), "No memory\n");
}

void handle_GetProperty(DBusMessage *call) {
    const char *interface = nullptr;
    const char *property = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property)) return;
    _vklog("--rcved: interface=%s property=%s", interface, property);
    if (strcmp(property, property::kName) == 0) {
        replyValue(call, DBUS_TYPE_STRING, &kPropName);
    } else if (strcmp(property, property::kState) == 0) {
        dbus_int32_t state = property::kStateFree;
        int32_t count = 0;
        if (m_claimed)
            state = property::kStateClaimed;
        else
            vkLstDev(&count);  // shown in the log only
        _vklog("state=%d,num=%d", state, count);
        replyValue(call, DBUS_TYPE_INT32, &state);
    } else if (strcmp(property, property::kType) == 0) {
        replyValue(call, DBUS_TYPE_INT32, &kPropType);
    } else if (strcmp(property, property::kCapability) == 0) {
        replyValue(call, DBUS_TYPE_INT32, &kPropCapability);
    } else {
        replyEmpty(call);
    }
}

void handle_GetAllProperty(DBusMessage *call) {
    const char *interface = nullptr;
    if (!decodeArgs(call, DBUS_TYPE_STRING, &interface)) return;
    _vklog("--rcved: interface=%s ", interface);
    replyEmpty(call);
}

void handle_Introspect(DBusMessage *call) {
    const char *xml = vkIntrospectionXml(dbus_message_get_path(call));
    replyValue(call, DBUS_TYPE_STRING, &xml);
}

struct MethodEntry {
    const char *interface;
    const char *member;
    const char *handlerName;
    void (*handler)(DBusMessage *);
};

// Tested in this order; the first match handles the call.
const MethodEntry kMethods[] = {
    {kServiceInterface, method::kClaim, "handle_claim", handle_claim},
    {kServiceInterface, method::kEnroll, "handle_Enroll", handle_Enroll},
    {kServiceInterface, method::kStopEnroll, "handle_StopEnroll", handle_StopEnroll},
    {kServiceInterface, method::kVerify, "handle_Verify", handle_Verify},
    {kServiceInterface, method::kStopVerify, "handle_StopVerify", handle_StopVerify},
    {kServiceInterface, method::kDeleteFinger, "handle_DeleteFinger", handle_DeleteFinger},
    {kServiceInterface, method::kDeleteAllFingers, "handle_DeleteAllFingers", handle_DeleteAllFingers},
    {kServiceInterface, method::kListFingers, "handle_ListFingers", handle_ListFingers},
    {kServiceInterface, method::kRenameFinger, "handle_RenameFinger", handle_RenameFinger},
    {kPropertiesInterface, method::kGet, "handle_GetProperty", handle_GetProperty},
    {kPropertiesInterface, method::kGetAll, "handle_GetAllProperty", handle_GetAllProperty},
    {vekobus::kIntrospectableInterface, method::kIntrospect, "handle_Introspect", handle_Introspect},
};

// The holder of the claim left the bus without giving it back (killed,
// crashed, disconnected): its session ends as if it had released the claim.
void releaseAbandonedClaim() {
    _vklog("claim holder %s left the bus", vkClaimHolder());
    releaseClaim();
}

[[noreturn]] void exitService(int status) {
    vklogDrain(500);
    exit(status);
}

const MethodEntry *methodOf(DBusMessage *message) {
    for (const MethodEntry &entry : kMethods)
        if (dbus_message_is_method_call(message, entry.interface, entry.member)) return &entry;
    return nullptr;
}

void runHandler(const MethodEntry &entry, DBusMessage *call, const Caller &caller) {
    s_caller = caller;
    _vklog(">>%s\n", entry.handlerName);
    entry.handler(call);
    s_caller = Caller{};
}

// A call that waited for polkit: handled now, or refused.
void resumeAfterPolkit(DBusMessage *call, bool allowed) {
    const MethodEntry *entry = methodOf(call);
    if (entry == nullptr) return;
    if (!allowed) return replyError(call, answer::kErrorAccessDenied, answer::kNotAuthorised);
    runHandler(*entry, call, vkCallerOf(call));
}

void handleMessage(DBusMessage *message) {
    const int type = dbus_message_get_type(message);
    // Answers to the service's own calls to the bus are not logged: whether
    // the holder of the claim is still there, and polkit's answers.
    if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) {
        if (vkClaimHolderLeft(message))
            releaseAbandonedClaim();
        else
            vkPolkitReply(message);
        return;
    }
    _vklog("msg %s %s %s %s\n", orNull(dbus_message_get_path(message)), orNull(dbus_message_get_interface(message)),
           orNull(dbus_message_get_destination(message)), orNull(dbus_message_get_member(message)));
    if (vkClaimHolderLeft(message)) return releaseAbandonedClaim();
    const MethodEntry *entry = methodOf(message);
    // Anything else (unknown members, signals, replies) gets no reply.
    if (entry == nullptr) return;
    // Root is never asked about; anybody else may need polkit's word first.
    const Caller caller = vkCallerOf(message);
    const Access access = caller.isRoot() ? Access::kFree : vkAccessNeeded(message, caller);
    if (access == Access::kFree) return runHandler(*entry, message, caller);
    if (!vkAskPolkit(message, access, resumeAfterPolkit))
        replyError(message, answer::kErrorAccessDenied, answer::kNotAuthorised);
}

// ---- start-up ----

struct Options {
    const char *storeRoot = nullptr;
    const char *logFile = nullptr;
    const char *logFlag = nullptr;
    const char *config = nullptr;
};

void usage(const char *program) {
    fprintf(stderr, "usage: %s [--store-root DIR] [--log-file FILE] [--log-flag FILE] [--config FILE]\n", program);
}

// Test runs move the store root, the log file, the flag file and the
// configuration file (recognition_setting.h).
bool parseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        const char **target = nullptr;
        if (strcmp(argv[i], "--store-root") == 0)
            target = &options->storeRoot;
        else if (strcmp(argv[i], "--log-file") == 0)
            target = &options->logFile;
        else if (strcmp(argv[i], "--log-flag") == 0)
            target = &options->logFlag;
        else if (strcmp(argv[i], "--config") == 0)
            target = &options->config;
        if (target == nullptr || i + 1 >= argc || argv[i + 1][0] == '\0') return false;
        *target = argv[++i];
    }
    return true;
}

// The service has no orderly shutdown; on a termination signal it only
// removes its message queue, then dies of the signal as before.
void onTerminate(int sig) {
    vklogRemoveQueue();
    signal(sig, SIG_DFL);
    raise(sig);
}

void connectBus() {
    ScopedDBusError error;
    m_conn = dbus_bus_get(DBUS_BUS_SYSTEM, error.get());
    if (error.isSet() || m_conn == nullptr) {
        _vklog("Connection Error(%s) ", error.message());
        exitService(1);
    }
    int result = dbus_bus_request_name(m_conn, vekobus::kServiceName, DBUS_NAME_FLAG_REPLACE_EXISTING, error.get());
    if (error.isSet()) {
        _vklog("Requece name error(%s) ", error.message());
        exitService(1);
    }
    // Queued behind another owner: a second instance stops here.
    if (result != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) exitService(1);
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        usage(argv[0]);
        return 2;
    }
    vkWriteStdoutNoWait(kVersion);

    vklogSetPaths(options.logFile, options.logFlag);
    vkSetStoreRoot(options.storeRoot);
    vkSetConfigPath(options.config);
    vklogExec();
    atexit(vklogRemoveQueue);
    signal(SIGTERM, onTerminate);
    signal(SIGINT, onTerminate);
    signal(SIGHUP, onTerminate);
    // A closed standard output (the journal going away) must not end the service.
    signal(SIGPIPE, SIG_IGN);

    usleep(kLogStartPauseUs);
    vklogtm();
    _vklogstr(kVersion);
    _vklogstr("use normal");

    // Workers send signals on the connection from their own threads.
    dbus_threads_init_default();
    connectBus();
    vkRunBusLoop(m_conn, handleMessage, vkPolkitExpire);
    // Without the bus the service is unreachable; let it be started again.
    _vklogstr("bus disconnected");
    exitService(1);
}
