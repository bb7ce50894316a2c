// Scope-bound owners for libdbus objects, so no error path leaks a message or
// leaves an error set.
#pragma once

#include <dbus/dbus.h>

#include <memory>

struct DBusMessageUnref {
    void operator()(DBusMessage *message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;

// A DBusError that is initialised on construction and freed on destruction.
class ScopedDBusError {
  public:
    ScopedDBusError() { dbus_error_init(&error_); }
    ~ScopedDBusError() { dbus_error_free(&error_); }
    ScopedDBusError(const ScopedDBusError &) = delete;
    ScopedDBusError &operator=(const ScopedDBusError &) = delete;

    DBusError *get() { return &error_; }
    bool isSet() const { return dbus_error_is_set(&error_); }
    const char *message() const { return error_.message != nullptr ? error_.message : ""; }

  private:
    DBusError error_;
};
