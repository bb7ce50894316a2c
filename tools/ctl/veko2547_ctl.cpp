// veko2547-ctl: enrol, verify, list, rename and delete fingerprints through
// the veko2547 fingerprint service, without writing D-Bus calls by hand.
//
// Enrolment and verification go the way the desktop client does it: claim the
// device, start, wait for the status signals, stop, release. The stop and the
// release also run after Ctrl-C, a time-out or a refusal, so the service is
// never left busy.
//
// Exit codes: 0 success or match, 1 no match, 2 error (usage included).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ctl_bus.h"
#include "ctl_progress.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;

constexpr int kDefaultTimeoutS = 30;
constexpr int kDefaultAttempts = 5;
constexpr int kPollMs = 100;
// Longest user or finger name the service stores (it refuses longer ones).
constexpr size_t kMaxNameLength = 58;

// The id given with Claim; the service only logs it.
constexpr const char *kClaimId = "veko2547-ctl";

// EnrollStatus / VerifyStatus codes.
constexpr int kCodeDone = 0;
constexpr int kCodeRefused = 1;
constexpr int kCodeProgress = 2;
constexpr int kCodeEnded = 2;
constexpr int kCodeNoMatch = 3;
constexpr int kCodeSensorFailed = 4;
constexpr int kSubcodeTooMany = 4;
constexpr int kSubcodeExists = 2;

const char *const kUsage =
    "usage: veko2547-ctl [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  status                       show the service's Name, State, Type and Capability\n"
    "  list USER                    list the enrolled fingers of USER, one per line\n"
    "  enroll USER FINGER           enrol a new finger named FINGER for USER\n"
    "  verify [FINGER]              verify a touch against every stored finger\n"
    "                               (only fingers named FINGER when given)\n"
    "  delete USER [FINGER]         delete one finger of USER, or all of them\n"
    "  rename USER FINGER NEWNAME   rename a finger of USER\n"
    "\n"
    "Options:\n"
    "  --timeout SECONDS   give up when the sensor reports nothing for this long\n"
    "                      during enroll or verify (default 30)\n"
    "  --attempts N        verify: touches that may fail to match before giving up\n"
    "                      (default 5)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 success or match, 1 no match, 2 error.\n"
    "The service is reached on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).\n";

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int) { g_interrupted = 1; }

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting poll returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct Options {
    int timeoutS = kDefaultTimeoutS;
    int attempts = kDefaultAttempts;
    bool help = false;
    std::vector<std::string> args;  // command and its arguments
};

int fail(const std::string &message) {
    std::fprintf(stderr, "veko2547-ctl: %s\n", message.c_str());
    return kExitError;
}

int usageError(const std::string &message) {
    std::fprintf(stderr, "veko2547-ctl: %s (see veko2547-ctl --help)\n", message.c_str());
    return kExitError;
}

bool parsePositive(const char *text, int &out) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 86400) return false;
    out = static_cast<int>(value);
    return true;
}

// Options may come anywhere; "--" ends them. Returns an error text or "".
std::string parseOptions(int argc, char **argv, Options &opt) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            opt.args.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            opt.help = true;
        } else if (a.rfind("--timeout", 0) == 0 || a.rfind("--attempts", 0) == 0) {
            const bool timeout = a.rfind("--timeout", 0) == 0;
            const std::string name = timeout ? "--timeout" : "--attempts";
            std::string value;
            if (a.size() > name.size() && a[name.size()] == '=') {
                value = a.substr(name.size() + 1);
            } else if (a == name && i + 1 < argc) {
                value = argv[++i];
            } else if (a == name) {
                return name + " needs a value";
            } else {
                return "unknown option " + a;
            }
            if (!parsePositive(value.c_str(), timeout ? opt.timeoutS : opt.attempts))
                return name + " needs a positive whole number, not '" + value + "'";
        } else {
            return "unknown option " + a;
        }
    }
    return "";
}

// The service stores names as file names; saying what is wrong here is
// clearer than its generic refusal.
std::string checkName(const char *what, const std::string &name) {
    if (name.empty()) return std::string(what) + " must not be empty";
    if (name.size() > kMaxNameLength)
        return std::string(what) + " '" + name + "' is longer than " + std::to_string(kMaxNameLength) + " bytes";
    if (name[0] == '.') return std::string(what) + " '" + name + "' must not start with '.'";
    for (unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return std::string(what) + " '" + name + "' must not contain '/' or control characters";
    return "";
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ---- simple calls ----

int cmdStatus(ctl::Bus &bus) {
    const char *iface = ctl::kInterface;
    for (const char *property : {"Name", "State", "Type", "Capability"}) {
        ctl::CallError err;
        ctl::MessagePtr reply = bus.call(ctl::kPropertiesInterface, "Get", err, DBUS_TYPE_STRING, &iface,
                                         DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
        if (!reply) return fail(std::string("status: ") + ctl::describeError(err));
        DBusMessageIter it;
        if (!dbus_message_iter_init(reply.get(), &it)) return fail(std::string("status: no value for ") + property);
        // The service replies with the bare value; a variant is unwrapped too.
        DBusMessageIter inner;
        if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&it, &inner);
            it = inner;
        }
        const int type = dbus_message_iter_get_arg_type(&it);
        if (type == DBUS_TYPE_STRING) {
            const char *value = nullptr;
            dbus_message_iter_get_basic(&it, &value);
            std::printf("%s: %s\n", property, value);
        } else if (type == DBUS_TYPE_INT32) {
            dbus_int32_t value = 0;
            dbus_message_iter_get_basic(&it, &value);
            const char *note = "";
            if (std::strcmp(property, "State") == 0) note = value == 2 ? " (claimed)" : " (free)";
            std::printf("%s: %d%s\n", property, static_cast<int>(value), note);
        } else {
            return fail(std::string("status: unexpected value type for ") + property);
        }
    }
    return kExitOk;
}

int cmdList(ctl::Bus &bus, const std::string &user) {
    const char *id = user.c_str();
    ctl::CallError err;
    ctl::MessagePtr reply = bus.call(ctl::kInterface, "ListFingers", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    if (!reply) return fail("list: " + ctl::describeError(err));
    DBusMessageIter it;
    DBusMessageIter array;
    if (!dbus_message_iter_init(reply.get(), &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY)
        return fail("list: the service's reply holds no list");
    int count = 0;
    dbus_message_iter_recurse(&it, &array);
    // A user without fingers comes back as an empty array of another element
    // type: only string elements are names.
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
        const char *name = nullptr;
        dbus_message_iter_get_basic(&array, &name);
        std::printf("%s\n", name);
        ++count;
        dbus_message_iter_next(&array);
    }
    if (count == 0) std::fprintf(stderr, "user \"%s\" has no enrolled fingers\n", user.c_str());
    return kExitOk;
}

int cmdDelete(ctl::Bus &bus, const std::string &user, const std::string *finger) {
    const char *id = user.c_str();
    ctl::CallError err;
    ctl::MessagePtr reply;
    if (finger != nullptr) {
        const char *name = finger->c_str();
        reply = bus.call(ctl::kInterface, "DeleteFinger", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &name,
                         DBUS_TYPE_INVALID);
        if (!reply && err.message == "DeleteFinger fail.")
            return fail("delete: user \"" + user + "\" has no finger \"" + *finger + "\"");
    } else {
        reply = bus.call(ctl::kInterface, "DeleteAllFingers", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    }
    if (!reply) return fail("delete: " + ctl::describeError(err));
    if (finger != nullptr) {
        std::printf("deleted finger \"%s\" of user \"%s\"\n", finger->c_str(), user.c_str());
    } else {
        std::printf("deleted all fingers of user \"%s\"\n", user.c_str());
    }
    return kExitOk;
}

int cmdRename(ctl::Bus &bus, const std::string &user, const std::string &finger, const std::string &newname) {
    const char *id = user.c_str();
    const char *from = finger.c_str();
    const char *to = newname.c_str();
    ctl::CallError err;
    ctl::MessagePtr reply = bus.call(ctl::kInterface, "RenameFinger", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING,
                                     &from, DBUS_TYPE_STRING, &to, DBUS_TYPE_INVALID);
    if (!reply && err.message == "RenameFinger fail.")
        return fail("rename: user \"" + user + "\" has no finger \"" + finger + "\", or \"" + newname +
                    "\" exists already");
    if (!reply) return fail("rename: " + ctl::describeError(err));
    std::printf("renamed finger \"%s\" of user \"%s\" to \"%s\"\n", finger.c_str(), user.c_str(), newname.c_str());
    return kExitOk;
}

// ---- claimed sessions (enrol, verify) ----

// Claim on construction; stop and release on finish(), whatever happened.
class Claimed {
  public:
    Claimed(ctl::Bus &bus, const char *stopMethod) : bus_(bus), stop_(stopMethod) {}

    bool claim(ctl::CallError &err) {
        const char *id = kClaimId;
        dbus_bool_t on = TRUE;
        ctl::MessagePtr reply =
            bus_.call(ctl::kInterface, "Claim", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &on, DBUS_TYPE_INVALID);
        claimed_ = reply != nullptr;
        return claimed_;
    }

    // Returns the exit code to use: `code`, or an error when releasing failed
    // although everything else went well.
    int finish(int code, bool started) {
        if (!claimed_) return code;
        ctl::CallError err;
        if (started && !bus_.call(ctl::kInterface, stop_, err, DBUS_TYPE_INVALID) && code != kExitError)
            code = fail(std::string("cannot stop the service's capture: ") + ctl::describeError(err));
        const char *id = kClaimId;
        dbus_bool_t off = FALSE;
        ctl::CallError releaseErr;
        if (!bus_.call(ctl::kInterface, "Claim", releaseErr, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &off,
                       DBUS_TYPE_INVALID) &&
            code != kExitError)
            code = fail("cannot release the device: " + ctl::describeError(releaseErr));
        claimed_ = false;
        return code;
    }

  private:
    ctl::Bus &bus_;
    const char *stop_;
    bool claimed_ = false;
};

// What waiting for the next status ended with.
enum class Next { kStatus, kTimeout, kInterrupted, kLost };

Next waitStatus(ctl::Bus &bus, const char *member, int timeoutS, ctl::Status &status) {
    const double deadline = now() + timeoutS;
    while (!g_interrupted) {
        if (now() >= deadline) return Next::kTimeout;
        switch (bus.nextStatus(status, kPollMs)) {
        case ctl::Wait::kStatus:
            if (status.member == member) return Next::kStatus;
            break;
        case ctl::Wait::kDisconnected:
            return Next::kLost;
        case ctl::Wait::kNothing:
            break;
        }
    }
    return Next::kInterrupted;
}

int reportWaitEnd(Next next, const char *what, int timeoutS) {
    if (next == Next::kInterrupted) return fail(std::string("interrupted; ") + what + " stopped");
    if (next == Next::kTimeout)
        return fail(std::string("timed out: no answer from the sensor for ") + std::to_string(timeoutS) + " s; " +
                    what + " stopped");
    return fail("lost the connection to the system bus");
}

int cmdEnroll(ctl::Bus &bus, const Options &opt, const std::string &user, const std::string &finger) {
    ctl::CallError err;
    if (!bus.watchStatus(err)) return fail("enroll: " + ctl::describeError(err));
    // From here on Ctrl-C must not end the process before it has stopped and released.
    installInterruptHandlers();
    Claimed session(bus, "StopEnroll");
    if (!session.claim(err)) return fail("enroll: " + ctl::describeError(err));
    const char *id = user.c_str();
    const char *name = finger.c_str();
    if (!bus.call(ctl::kInterface, "Enroll", err, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        return session.finish(fail("enroll: " + ctl::describeError(err)), false);

    ctl::Progress progress(stdout, isatty(STDOUT_FILENO) != 0);
    progress.start(user, finger);
    int result = kExitError;
    for (;;) {
        ctl::Status st;
        const Next next = waitStatus(bus, "EnrollStatus", opt.timeoutS, st);
        if (next != Next::kStatus) {
            progress.finish(false);
            result = reportWaitEnd(next, "enrolment", opt.timeoutS);
            break;
        }
        if (st.id != user) continue;  // another client's enrolment
        if (st.code == kCodeProgress) {
            progress.step(ctl::jsonInt(st.payload, "progress"));
            continue;
        }
        progress.finish(st.code == kCodeDone);
        if (st.code == kCodeDone) {
            std::printf("enrolled finger \"%s\" of user \"%s\"\n", finger.c_str(), user.c_str());
            result = kExitOk;
        } else if (st.code == kCodeRefused && ctl::jsonInt(st.payload, "subcode") == kSubcodeTooMany) {
            result = fail("enroll: user \"" + user + "\" already has 10 fingers; delete one first");
        } else if (st.code == kCodeRefused && ctl::jsonInt(st.payload, "subcode") == kSubcodeExists) {
            result = fail("enroll: user \"" + user + "\" already has a finger \"" + finger + "\"");
        } else if (st.code == kCodeRefused) {
            result = fail("enroll: enrolment was stopped, or the finger could not be stored");
        } else if (st.code == kCodeSensorFailed) {
            result = fail("enroll: the sensor did not accept the capture command");
        } else {
            result = fail("enroll: unexpected status " + std::to_string(st.code) + " " + st.payload);
        }
        break;
    }
    return session.finish(result, true);
}

int cmdVerify(ctl::Bus &bus, const Options &opt, const std::string &finger) {
    ctl::CallError err;
    if (!bus.watchStatus(err)) return fail("verify: " + ctl::describeError(err));
    // From here on Ctrl-C must not end the process before it has stopped and released.
    installInterruptHandlers();
    Claimed session(bus, "StopVerify");
    if (!session.claim(err)) return fail("verify: " + ctl::describeError(err));
    const char *name = finger.c_str();
    if (!bus.call(ctl::kInterface, "Verify", err, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        return session.finish(fail("verify: " + ctl::describeError(err)), false);

    std::printf("touch the sensor\n");
    std::fflush(stdout);
    int misses = 0;
    int result = kExitError;
    for (;;) {
        ctl::Status st;
        const Next next = waitStatus(bus, "VerifyStatus", opt.timeoutS, st);
        if (next != Next::kStatus) {
            result = reportWaitEnd(next, "verification", opt.timeoutS);
            break;
        }
        if (st.code == kCodeDone) {
            std::printf("match: user \"%s\"\n", st.id.c_str());
            result = kExitOk;
        } else if (st.code == kCodeNoMatch) {
            ++misses;
            if (misses < opt.attempts) {
                std::printf("no match (%d of %d), touch again\n", misses, opt.attempts);
                std::fflush(stdout);
                continue;
            }
            std::printf("no match\n");
            result = kExitNoMatch;
        } else if (st.code == kCodeEnded) {
            std::printf("no match: nothing enrolled to compare with, or the touch could not be read\n");
            result = kExitNoMatch;
        } else if (st.code == kCodeSensorFailed) {
            result = fail("verify: the sensor did not accept the capture command");
        } else {
            result = fail("verify: unexpected status " + std::to_string(st.code) + " " + st.payload);
        }
        break;
    }
    std::fflush(stdout);
    return session.finish(result, true);
}

int run(const Options &opt) {
    const std::vector<std::string> &a = opt.args;
    const std::string &cmd = a[0];
    struct Shape {
        const char *name;
        size_t least;
        size_t most;
    };
    static const Shape kShapes[] = {{"status", 0, 0}, {"list", 1, 1},   {"enroll", 2, 2},
                                    {"verify", 0, 1}, {"delete", 1, 2}, {"rename", 3, 3}};
    const Shape *shape = nullptr;
    for (const Shape &s : kShapes)
        if (cmd == s.name) shape = &s;
    if (shape == nullptr) return usageError("unknown command '" + cmd + "'");
    const size_t given = a.size() - 1;
    if (given < shape->least) return usageError(cmd + ": missing arguments");
    if (given > shape->most) return usageError(cmd + ": too many arguments");

    // Check the names before anything reaches the service.
    static const char *const kRoles[][3] = {{"", "", ""},       {"user", "", ""},       {"user", "finger", ""},
                                            {"finger", "", ""}, {"user", "finger", ""}, {"user", "finger", "new name"}};
    const size_t shapeIndex = static_cast<size_t>(shape - kShapes);
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string problem = checkName(kRoles[shapeIndex][i - 1], a[i]);
        if (!problem.empty()) return usageError(cmd + ": " + problem);
    }

    ctl::Bus bus;
    ctl::CallError err;
    if (!bus.connect(err)) return fail(ctl::describeError(err));
    if (cmd == "status") return cmdStatus(bus);
    if (cmd == "list") return cmdList(bus, a[1]);
    if (cmd == "enroll") return cmdEnroll(bus, opt, a[1], a[2]);
    if (cmd == "verify") return cmdVerify(bus, opt, given == 1 ? a[1] : std::string());
    if (cmd == "delete") return cmdDelete(bus, a[1], given == 2 ? &a[2] : nullptr);
    return cmdRename(bus, a[1], a[2], a[3]);
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    const std::string problem = parseOptions(argc, argv, opt);
    if (!problem.empty()) return usageError(problem);
    if (opt.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (opt.args.empty()) return usageError("no command given");
    return run(opt);
}
