// EnrollStatus and VerifyStatus: progress and results of the workers, sent as
// D-Bus signals (id, code, JSON payload) from "/com/vekoid".
#pragma once

#include <dbus/dbus.h>

#include <cstdint>

#include "contract.h"

// The service's only bus connection. The main loop reads it and replies on it;
// the workers send signals on it from their own threads.
extern DBusConnection *m_conn;

// The three arguments of one status signal.
struct StatusFields {
    const char *id;
    int32_t code;
    char payload[64];
};

// Maps a worker's (type, arg) pair to the signal arguments.
void vkEnrollStatusFields(const char *id, uint32_t type, uint32_t arg, StatusFields *out);
void vkVerifyStatusFields(const char *id, uint32_t type, uint32_t arg, StatusFields *out);

// Status signals are addressed to this connection alone (the one that holds
// the claim), so nobody else learns another person's results; "" leaves them
// unaddressed. Safe on any thread.
void vkSetStatusDestination(const char *busName);

// Send the signal on m_conn and flush it. Safe on any thread.
// Return -1 when the signal was sent, 0 when it was not.
int vkSigEnrollStatus(const char *id, uint32_t type, uint32_t arg);
int vkSigVerifyStatus(const char *id, uint32_t type, uint32_t arg);

// EnrollRetry: a touch of the enrolment of `id` that was not taken, and why
// (vekobus::retry: it gave no template, or could not be joined to the earlier touches).
void vkEnrollRetryFields(const char *id, uint32_t code, StatusFields *out);
int vkSigEnrollRetry(const char *id, uint32_t code);
