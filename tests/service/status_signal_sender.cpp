// Test helper: connects to the system bus named by the environment and sends
// the status signals given on the command line, each from its own thread, the
// way the workers do. Prints the emitter's result for each.
//
//   status_signal_sender enroll|verify ID TYPE ARG [enroll|verify ID TYPE ARG ...]
#include <dbus/dbus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "status_signals.h"

int main(int argc, char **argv) {
    if (argc < 5 || (argc - 1) % 4 != 0) {
        fprintf(stderr, "usage: %s enroll|verify ID TYPE ARG ...\n", argv[0]);
        return 2;
    }
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    m_conn = dbus_bus_get(DBUS_BUS_SYSTEM, &error);
    if (m_conn == nullptr) {
        fprintf(stderr, "no bus: %s\n", error.message);
        dbus_error_free(&error);
        return 1;
    }
    for (int i = 1; i + 3 < argc; i += 4) {
        const bool enroll = strcmp(argv[i], "enroll") == 0;
        const char *id = argv[i + 1];
        const auto type = static_cast<uint32_t>(strtoul(argv[i + 2], nullptr, 0));
        const auto arg = static_cast<uint32_t>(strtoul(argv[i + 3], nullptr, 0));
        int result = 0;
        std::thread worker(
            [&] { result = enroll ? vkSigEnrollStatus(id, type, arg) : vkSigVerifyStatus(id, type, arg); });
        worker.join();
        printf("%d\n", result);
    }
    return 0;
}
