// The claim on the sensor, and whose it is.
//
// A claim belongs to the bus connection that made it (its unique name). While
// that connection holds it, other connections may not claim, start, stop or
// release: several programs can share the service (a lock screen, sudo, an
// enrolment) without one ending or answering another's session. The service
// watches the holder on the bus; when it leaves without releasing (killed,
// crashed), the message loop ends its session (vkClaimHolderLeft).
#pragma once

#include <dbus/dbus.h>

#include <cstdint>

// 1 while a connection holds the claim. Read and written on the bus thread only.
extern int32_t m_claimed;

// Whether `sender` holds the claim, and whether another connection does.
bool vkClaimHeldBy(const char *sender);
bool vkClaimHeldByOther(const char *sender);

// `sender` takes the claim (or, holding it, claims again) for the user `id`;
// the service starts watching it on the bus.
void vkClaimTake(const char *sender, const char *id);

// The claim is given back; the holder is no longer watched.
void vkClaimDrop();

// The unique name of the holder ("" when nobody holds the claim) and the id
// given with its latest Claim.
const char *vkClaimHolder();
const char *vkClaimId();

// True when `message` tells that the holder has left the bus: the bus's
// NameOwnerChanged for it, or the bus's answer to the check made when the
// claim was taken (it may have left before the watch was in place). Replies
// that belong to other calls are ignored.
bool vkClaimHolderLeft(DBusMessage *message);
