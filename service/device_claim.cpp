#include "device_claim.h"

#include <cstdio>
#include <cstring>

#include "dbus_handles.h"
#include "log.h"
#include "status_signals.h"
#include "worker_state.h"

int32_t m_claimed = 0;

namespace {

// A unique bus name is at most 255 bytes.
constexpr size_t kBusNameSize = 256;
constexpr size_t kRuleSize = 512;

char s_holder[kBusNameSize];
char s_claimId[kWorkerNameSize];
// Serial of the NameHasOwner call about the holder; 0 when none is awaited.
dbus_uint32_t s_checkSerial = 0;

// The match rule that brings the holder's NameOwnerChanged to the service.
void holderRule(char (&rule)[kRuleSize], const char *holder) {
    snprintf(rule, sizeof rule,
             "type='signal',sender='" DBUS_SERVICE_DBUS "',path='" DBUS_PATH_DBUS "',interface='" DBUS_INTERFACE_DBUS
             "',member='NameOwnerChanged',arg0='%s'",
             holder);
}

// Starts watching the holder. Neither call waits: the match rule is sent
// without asking for an answer, and the bus answers the NameHasOwner asked
// after it through the message loop. The bus handles both in order, so a
// holder that left before its rule was in place is seen by the check.
void watchHolder() {
    if (m_conn == nullptr) return;
    char rule[kRuleSize];
    holderRule(rule, s_holder);
    dbus_bus_add_match(m_conn, rule, nullptr);
    MessagePtr check(
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "NameHasOwner"));
    const char *name = s_holder;
    s_checkSerial = 0;
    if (check && dbus_message_append_args(check.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        dbus_connection_send(m_conn, check.get(), &s_checkSerial);
    dbus_connection_flush(m_conn);
}

void unwatchHolder() {
    s_checkSerial = 0;
    if (m_conn == nullptr || s_holder[0] == '\0') return;
    char rule[kRuleSize];
    holderRule(rule, s_holder);
    dbus_bus_remove_match(m_conn, rule, nullptr);
}

}  // namespace

bool vkClaimHeldBy(const char *sender) { return m_claimed != 0 && sender != nullptr && strcmp(sender, s_holder) == 0; }

bool vkClaimHeldByOther(const char *sender) { return m_claimed != 0 && !vkClaimHeldBy(sender); }

void vkClaimTake(const char *sender, const char *id) {
    snprintf(s_claimId, sizeof s_claimId, "%s", id != nullptr ? id : "");
    if (vkClaimHeldBy(sender)) return;
    unwatchHolder();
    snprintf(s_holder, sizeof s_holder, "%s", sender != nullptr ? sender : "");
    m_claimed = 1;
    // The holder's enrolments and verifications are told to it alone; what
    // the last holder's capture says as it ends still goes to that holder.
    vkSetStatusDestination(s_holder);
    watchHolder();
}

void vkClaimDrop() {
    unwatchHolder();
    s_holder[0] = '\0';
    s_claimId[0] = '\0';
    m_claimed = 0;
}

const char *vkClaimHolder() { return s_holder; }

const char *vkClaimId() { return s_claimId; }

bool vkClaimHolderLeft(DBusMessage *message) {
    if (m_claimed == 0) return false;
    const int type = dbus_message_get_type(message);
    if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) {
        if (s_checkSerial == 0 || dbus_message_get_reply_serial(message) != s_checkSerial) return false;
        s_checkSerial = 0;
        dbus_bool_t present = TRUE;
        // An error reply says nothing about the holder: it stays.
        return type == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
               dbus_message_get_args(message, nullptr, DBUS_TYPE_BOOLEAN, &present, DBUS_TYPE_INVALID) && !present;
    }
    if (!dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") ||
        !dbus_message_has_sender(message, DBUS_SERVICE_DBUS))
        return false;
    const char *name = nullptr;
    const char *oldOwner = nullptr;
    const char *newOwner = nullptr;
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                               &newOwner, DBUS_TYPE_INVALID))
        return false;
    // A unique name is never handed on: any change of its owner is its end.
    return strcmp(name, s_holder) == 0 && newOwner[0] == '\0';
}
