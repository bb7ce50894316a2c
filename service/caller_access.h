// Who calls the service, and what they may do.
//
// Root's calls are never checked: they behave as they always have. Any other
// user acts on the fingers stored under their own login name (the caller's
// uid, as the bus tells it, and its passwd name); what needs more is decided
// by polkit, asked on the bus the service serves:
//
//   com.vekoid.fprint.verify   Verify
//   com.vekoid.fprint.enroll   Enroll, DeleteFinger, DeleteAllFingers and
//                              RenameFinger of one's own fingers
//   com.vekoid.fprint.manage   Claim for another id, and ListFingers, Enroll,
//                              DeleteFinger, DeleteAllFingers and
//                              RenameFinger of another id's fingers
//
// The question to polkit never blocks the service: the call waits, the
// message loop goes on, and the call is handled (or refused) when polkit
// answers. Only actions whose default asks for a password allow polkit to ask
// the person for it.
#pragma once

#include <dbus/dbus.h>
#include <sys/types.h>

#include "worker_state.h"

struct Caller {
    bool known = false;  // the bus said who it is
    uid_t uid = 0;
    char name[kWorkerNameSize] = {};  // login name; "" when the uid has none (or a longer one)

    bool isRoot() const { return known && uid == 0; }
    // Whether `id` names the caller's own fingers.
    bool owns(const char *id) const;
};

enum class Access { kFree, kVerify, kEnroll, kManage };

// The caller of `call`, as the bus knows it (asked once per connection).
Caller vkCallerOf(DBusMessage *call);

// What a caller other than root needs for `call`; kFree also when the
// arguments cannot be read (the handler refuses them).
Access vkAccessNeeded(DBusMessage *call, const Caller &caller);

// Asks polkit whether the caller of `call` may do `access`, without waiting.
// `resume(call, allowed)` runs on the bus thread once polkit has answered,
// the question failed, or it went unanswered for too long. False when the
// question cannot be asked now (too many waiting): the call is to be refused.
using AccessResume = void (*)(DBusMessage *call, bool allowed);
bool vkAskPolkit(DBusMessage *call, Access access, AccessResume resume);

// For the message loop: true when `reply` answered one of the service's
// questions to polkit (its call was then resumed).
bool vkPolkitReply(DBusMessage *reply);

// For the message loop, about once a second: refuses the calls whose question
// waited too long.
void vkPolkitExpire();
