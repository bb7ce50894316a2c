// Message loop of the bus connection: poll-driven, one handler call per message.
#include "bus_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "dbus_handles.h"

namespace {

// Longest wait without looking at the connection. A safety net only: every
// event that matters wakes the loop at once.
constexpr int kIdleWaitMs = 1000;

std::atomic<int> g_wakeFd{-1};
std::atomic<bool> g_stop{false};

void wakeLoop() {
    const uint64_t one = 1;
    ssize_t written = write(g_wakeFd.load(), &one, sizeof one);
    (void)written;  // a full counter already means "wake up"
}

// libdbus calls these on whichever thread changed the connection: a worker's
// flush may read incoming calls off the socket, after which the socket is
// quiet although messages wait in the queue.
void onDispatchStatus(DBusConnection *, DBusDispatchStatus status, void *) {
    if (status == DBUS_DISPATCH_DATA_REMAINS) wakeLoop();
}

void onWakeupMain(void *) { wakeLoop(); }

bool isDisconnected(DBusMessage *message) {
    return dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected");
}

}  // namespace

void vkStopBusLoop() {
    g_stop.store(true);
    wakeLoop();
}

int vkRunBusLoop(DBusConnection *conn, BusMessageHandler handler, BusTick tick) {
    int busFd = -1;
    if (!dbus_connection_get_unix_fd(conn, &busFd)) return -2;
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return -2;
    g_wakeFd.store(wakeFd);
    g_stop.store(false);
    dbus_connection_set_dispatch_status_function(conn, onDispatchStatus, nullptr, nullptr);
    dbus_connection_set_wakeup_main_function(conn, onWakeupMain, nullptr, nullptr);

    int result = 0;
    while (!g_stop.load()) {
        // Read and write whatever is ready, without blocking.
        if (!dbus_connection_read_write(conn, 0)) {
            result = -1;
            break;
        }
        bool lost = false;
        while (DBusMessage *raw = dbus_connection_pop_message(conn)) {
            MessagePtr message(raw);
            if (isDisconnected(message.get())) {
                lost = true;
                break;
            }
            handler(message.get());
        }
        if (lost) {
            result = -1;
            break;
        }
        if (tick != nullptr) tick();
        if (dbus_connection_get_dispatch_status(conn) == DBUS_DISPATCH_DATA_REMAINS) continue;

        pollfd fds[2] = {};
        fds[0].fd = busFd;
        fds[0].events = POLLIN | (dbus_connection_has_messages_to_send(conn) ? POLLOUT : 0);
        fds[1].fd = wakeFd;
        fds[1].events = POLLIN;
        if (poll(fds, 2, kIdleWaitMs) < 0 && errno != EINTR) usleep(10000);
        if (fds[1].revents & POLLIN) {
            uint64_t counter = 0;
            ssize_t got = read(wakeFd, &counter, sizeof counter);
            (void)got;
        }
    }
    dbus_connection_set_dispatch_status_function(conn, nullptr, nullptr, nullptr);
    dbus_connection_set_wakeup_main_function(conn, nullptr, nullptr, nullptr);
    g_wakeFd.store(-1);
    close(wakeFd);
    return result;
}
