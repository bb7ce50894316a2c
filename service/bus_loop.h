// The message loop of the service's bus connection.
//
// One thread reads the connection and hands every incoming message, in order,
// to a handler. Between messages it waits on the connection's socket and on a
// wake-up descriptor instead of sleeping, so a call is handled as soon as it
// arrives, and it never holds libdbus's I/O path while waiting, so other
// threads can send and flush on the same connection at any time.
#pragma once

#include <dbus/dbus.h>

using BusMessageHandler = void (*)(DBusMessage *message);
using BusTick = void (*)();

// Runs until the connection is lost (returns -1) or a stop was asked with
// vkStopBusLoop (returns 0). Returns -2 when the loop cannot be set up.
// The handler does not see the local "Disconnected" signal. `tick`, when
// given, runs between messages at least once a second.
int vkRunBusLoop(DBusConnection *conn, BusMessageHandler handler, BusTick tick = nullptr);

// Asks a running loop to return; safe from any thread.
void vkStopBusLoop();
