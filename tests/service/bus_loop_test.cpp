// The bus message loop against a real dbus-daemon: calls are answered at once,
// and other threads send and flush signals on the loop's connection without
// waiting for it, also while calls are arriving.
#include "bus_loop.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "status_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::atomic<int> g_handled{0};

// Answers "Ping" with an empty return, like the service's handlers do.
void pingHandler(DBusMessage *message) {
    if (!dbus_message_is_method_call(message, "com.vekoid.test", "Ping")) return;
    g_handled.fetch_add(1);
    DBusMessage *reply = dbus_message_new_method_return(message);
    dbus_connection_send(m_conn, reply, nullptr);
    dbus_connection_flush(m_conn);
    dbus_message_unref(reply);
}

class BusLoop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dbus_threads_init_default();
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        daemon_ = fork();
        ASSERT_GE(daemon_, 0);
        if (daemon_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(fds[1], 3);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=3", nullptr);
            _exit(127);
        }
        close(fds[1]);
        char buf[512] = {};
        ssize_t n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        ASSERT_GT(n, 0) << "dbus-daemon did not start";
        address_.assign(buf, static_cast<size_t>(n));
        address_.erase(address_.find_last_not_of("\n") + 1);
    }

    static void TearDownTestSuite() {
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
    }

    static DBusConnection *connect() {
        DBusError error;
        dbus_error_init(&error);
        DBusConnection *conn = dbus_connection_open_private(address_.c_str(), &error);
        if (conn != nullptr && !dbus_bus_register(conn, &error)) {
            dbus_connection_close(conn);
            dbus_connection_unref(conn);
            conn = nullptr;
        }
        dbus_error_free(&error);
        if (conn != nullptr) dbus_connection_set_exit_on_disconnect(conn, FALSE);
        return conn;
    }

    void SetUp() override {
        service_ = connect();
        client_ = connect();
        ASSERT_NE(service_, nullptr);
        ASSERT_NE(client_, nullptr);
        m_conn = service_;
        loop_ = std::thread([this] { loopResult_ = vkRunBusLoop(service_, pingHandler); });
        // Let the loop settle into its wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    void TearDown() override {
        vkStopBusLoop();
        loop_.join();
        m_conn = nullptr;
        for (DBusConnection *conn : {service_, client_}) {
            dbus_connection_close(conn);
            dbus_connection_unref(conn);
        }
    }

    // One blocking Ping; returns the round trip in ms, or -1 on error.
    double ping() {
        DBusMessage *call =
            dbus_message_new_method_call(dbus_bus_get_unique_name(service_), "/com/vekoid", "com.vekoid.test", "Ping");
        DBusError error;
        dbus_error_init(&error);
        auto start = Clock::now();
        DBusMessage *reply = dbus_connection_send_with_reply_and_block(client_, call, 3000, &error);
        double elapsed = msSince(start);
        dbus_message_unref(call);
        dbus_error_free(&error);
        if (reply == nullptr) return -1;
        dbus_message_unref(reply);
        return elapsed;
    }

    static pid_t daemon_;
    static std::string address_;
    DBusConnection *service_ = nullptr;
    DBusConnection *client_ = nullptr;
    std::thread loop_;
    int loopResult_ = 99;
};

pid_t BusLoop::daemon_ = -1;
std::string BusLoop::address_;

TEST_F(BusLoop, CallsAreAnsweredAtOnce) {
    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) samples.push_back(ping());
    ASSERT_GE(*std::min_element(samples.begin(), samples.end()), 0.0);
    std::sort(samples.begin(), samples.end());
    EXPECT_LT(samples[samples.size() / 2], 10.0);
    EXPECT_LT(samples.back(), 200.0);
    // A call after the loop has been idle longer than its safety wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_LT(ping(), 40.0);
}

TEST_F(BusLoop, SignalFromAnotherThreadLeavesWhileTheLoopWaits) {
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_add_match(client_, "type='signal',interface='com.vekoid.fprint'", &error);
    ASSERT_FALSE(dbus_error_is_set(&error));

    int result = 0;
    double elapsed = 0;
    std::thread worker([&] {
        auto start = Clock::now();
        result = vkSigEnrollStatus("1000", 2, 3);
        elapsed = msSince(start);
    });
    worker.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(elapsed, 100.0);

    DBusMessage *signal = nullptr;
    auto start = Clock::now();
    while (signal == nullptr && msSince(start) < 2000) {
        dbus_connection_read_write(client_, 50);
        while (DBusMessage *m = dbus_connection_pop_message(client_)) {
            if (signal == nullptr && dbus_message_is_signal(m, "com.vekoid.fprint", "EnrollStatus"))
                signal = m;
            else
                dbus_message_unref(m);
        }
    }
    ASSERT_NE(signal, nullptr);
    EXPECT_LT(msSince(start), 100.0);
    const char *id = nullptr;
    dbus_int32_t code = 0;
    const char *payload = nullptr;
    ASSERT_TRUE(dbus_message_get_args(signal, &error, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &code, DBUS_TYPE_STRING,
                                      &payload, DBUS_TYPE_INVALID));
    EXPECT_STREQ(dbus_message_get_path(signal), "/com/vekoid");
    EXPECT_STREQ(id, "1000");
    EXPECT_EQ(code, 2);
    EXPECT_STREQ(payload, "{\"progress\":30}");
    dbus_message_unref(signal);
}

// A worker's flush also reads: calls it takes off the socket must still be
// handled at once, not at the loop's next safety wake-up.
TEST_F(BusLoop, CallsDuringASignalStormAreNotDelayed) {
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread worker([&] {
        while (!stop.load()) {
            vkSigVerifyStatus("", 3, 0);
            sent.fetch_add(1);
        }
    });
    while (sent.load() < 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<double> samples;
    for (auto start = Clock::now(); msSince(start) < 300 || samples.size() < 50;) samples.push_back(ping());
    const int sentDuringCalls = sent.load();
    stop.store(true);
    worker.join();
    EXPECT_GT(sentDuringCalls, 40);
    ASSERT_GE(*std::min_element(samples.begin(), samples.end()), 0.0);
    EXPECT_LT(*std::max_element(samples.begin(), samples.end()), 500.0);
}

TEST_F(BusLoop, ReturnsWhenTheConnectionIsLost) {
    int handledBefore = g_handled.load();
    EXPECT_GE(ping(), 0.0);
    EXPECT_EQ(g_handled.load(), handledBefore + 1);
    dbus_connection_close(service_);
    auto start = Clock::now();
    while (loopResult_ == 99 && msSince(start) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(loopResult_, -1);
}

}  // namespace
