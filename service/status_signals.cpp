// Status signals of the enrollment and verification workers.
#include "status_signals.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "dbus_handles.h"
#include "log.h"

DBusConnection *m_conn = nullptr;

namespace {

// A unique bus name is at most 255 bytes.
char s_destination[256];
std::mutex s_destinationLock;

// Progress is reported in tens of percent per accepted capture, never above 100.
constexpr uint32_t kProgressPerStage = 10;
constexpr uint32_t kProgressMax = 100;

void setPayload(StatusFields *out, const char *text) { snprintf(out->payload, sizeof out->payload, "%s", text); }

int sendStatus(const char *member, const char *id, uint32_t type, uint32_t arg,
               void (*fields)(const char *, uint32_t, uint32_t, StatusFields *)) {
    if (id == nullptr) id = "";
    _vklog("%s %s %d %d", member, id, static_cast<int>(type), static_cast<int>(arg));
    if (m_conn == nullptr) {
        _vklogstr("Message Null");
        return 0;
    }
    MessagePtr signal(dbus_message_new_signal(vekobus::kServicePath, vekobus::kServiceInterface, member));
    if (!signal) {
        _vklogstr("Message Null");
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(s_destinationLock);
        if (s_destination[0] != '\0' && !dbus_message_set_destination(signal.get(), s_destination)) {
            _vklogstr("Out of memory");
            return 0;
        }
    }
    StatusFields out;
    fields(id, type, arg, &out);
    const char *payload = out.payload;
    dbus_int32_t code = out.code;
    // A string that is not valid UTF-8 would make libdbus abort; refuse it instead.
    if (!dbus_validate_utf8(out.id, nullptr) ||
        !dbus_message_append_args(signal.get(), DBUS_TYPE_STRING, &out.id, DBUS_TYPE_INT32, &code, DBUS_TYPE_STRING,
                                  &payload, DBUS_TYPE_INVALID) ||
        !dbus_connection_send(m_conn, signal.get(), nullptr)) {
        _vklogstr("Out of memory");
        return 0;
    }
    dbus_connection_flush(m_conn);
    return -1;
}

}  // namespace

void vkSetStatusDestination(const char *busName) {
    std::lock_guard<std::mutex> lock(s_destinationLock);
    snprintf(s_destination, sizeof s_destination, "%s", busName != nullptr ? busName : "");
}

void vkEnrollStatusFields(const char *id, uint32_t type, uint32_t arg, StatusFields *out) {
    namespace enroll = vekobus::enroll;
    memset(out, 0, sizeof *out);
    out->id = id;
    out->code = static_cast<int32_t>(type);
    switch (static_cast<int32_t>(type)) {
    case enroll::kRefused: {
        // Too many fingers, the name exists; anything else: stopped, or the file was not written.
        const int32_t subcode = static_cast<int32_t>(arg) == enroll::kTooManyFingers ? enroll::kTooManyFingers
                                : static_cast<int32_t>(arg) == enroll::kNameExists   ? enroll::kNameExists
                                                                                     : enroll::kStoppedOrNotStored;
        snprintf(out->payload, sizeof out->payload, "{\"subcode\":%d}", static_cast<int>(subcode));
        break;
    }
    case enroll::kProgress: {
        uint32_t progress = arg >= kProgressMax / kProgressPerStage ? kProgressMax : arg * kProgressPerStage;
        snprintf(out->payload, sizeof out->payload, "{\"progress\":%u}", progress);
        break;
    }
    default:  // done, capture start failed: no payload
        break;
    }
}

void vkVerifyStatusFields(const char *id, uint32_t type, uint32_t arg, StatusFields *out) {
    namespace verify = vekobus::verify;
    memset(out, 0, sizeof *out);
    // Only a match names the user.
    out->id = static_cast<int32_t>(type) == verify::kMatch ? id : "";
    out->code = static_cast<int32_t>(type);
    switch (static_cast<int32_t>(type)) {
    case verify::kEnded:
        snprintf(out->payload, sizeof out->payload, "{\"subcode\":%d}", static_cast<int>(verify::kEndedSubcode));
        break;
    case verify::kNoMatch:
        snprintf(out->payload, sizeof out->payload, "{\"subcode\":%d}",
                 static_cast<int>(arg == 0 ? verify::kNothingScored : verify::kWeakScore));
        break;
    default:  // matched, capture start failed: no payload
        break;
    }
}

void vkEnrollRetryFields(const char *id, uint32_t code, StatusFields *out) {
    memset(out, 0, sizeof *out);
    out->id = id;
    out->code = static_cast<int32_t>(code);
    setPayload(out, static_cast<int32_t>(code) == vekobus::retry::kUnusable ? "{\"reason\":\"unusable\"}"
                                                                            : "{\"reason\":\"no-overlap\"}");
}

int vkSigEnrollRetry(const char *id, uint32_t code) {
    return sendStatus(
        vekobus::signal::kEnrollRetry, id, code, 0,
        [](const char *who, uint32_t type, uint32_t, StatusFields *out) { vkEnrollRetryFields(who, type, out); });
}

int vkSigEnrollStatus(const char *id, uint32_t type, uint32_t arg) {
    return sendStatus(vekobus::signal::kEnrollStatus, id, type, arg, vkEnrollStatusFields);
}

int vkSigVerifyStatus(const char *id, uint32_t type, uint32_t arg) {
    return sendStatus(vekobus::signal::kVerifyStatus, id, type, arg, vkVerifyStatusFields);
}
