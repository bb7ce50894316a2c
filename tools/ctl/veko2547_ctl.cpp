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

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ctl_answers.h"
#include "ctl_progress.h"
#include "i18n.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;

constexpr int kDefaultTimeoutS = 30;
constexpr int kDefaultAttempts = 5;
constexpr int kPollMs = 100;
// Longest user or finger name the service stores (it refuses longer ones).
constexpr size_t kMaxNameLength = 58;

// The id a verification claims the device for without --user. The service
// compares the fingers of the id that holds the claim first.
constexpr const char *kClaimId = "veko2547-ctl";

namespace enroll = vekobus::enroll;
namespace method = vekobus::method;
namespace verify = vekobus::verify;

// Generous: polkit may ask the person for a password before the service answers.
constexpr int kCallTimeoutMs = 130000;
// Stop and release together, at the end of an enrolment or verification.
constexpr int kCleanUpMs = 5000;

// TRANSLATORS: keep the command and option names and the column layout.
const char *const kUsage =
    N_("usage: veko2547-ctl [OPTIONS] COMMAND [ARGS]\n"
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
       "  --user USER         verify: claim the reader for USER, whose fingers are\n"
       "                      compared first (enroll claims it for its USER)\n"
       "  -h, --help          show this help\n"
       "\n"
       "Exit status: 0 success or match, 1 no match, 2 error.\n"
       "The service is reached on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).\n");

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
    std::string user;               // verify: the id the device is claimed for
    std::vector<std::string> args;  // command and its arguments
};

int fail(const std::string &message) {
    std::fprintf(stderr, "veko2547-ctl: %s\n", message.c_str());
    return kExitError;
}

int usageError(const std::string &message) {
    std::fprintf(stderr, _("veko2547-ctl: %s (see veko2547-ctl --help)\n"), message.c_str());
    return kExitError;
}

bool parsePositive(const char *text, int &out) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 86400) return false;
    out = static_cast<int>(value);
    return true;
}

// What a name on the command line stands for, in the messages about it.
constexpr const char *kRoleUser = N_("user");
constexpr const char *kRoleFinger = N_("finger");
constexpr const char *kRoleNewName = N_("new name");

// The service stores names as file names; saying what is wrong here is
// clearer than its generic refusal.
// `role` is one of the roles above, untranslated.
std::string checkName(const char *role, const std::string &name) {
    const char *what = _(role);
    if (name.empty()) return ctl::format(_("%s must not be empty"), what);
    if (name.size() > kMaxNameLength)
        return ctl::format(_("%s '%s' is longer than %zu bytes"), what, name.c_str(), kMaxNameLength);
    if (name[0] == '.') return ctl::format(_("%s '%s' must not start with '.'"), what, name.c_str());
    for (unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return ctl::format(_("%s '%s' must not contain '/' or control characters"), what, name.c_str());
    return "";
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
        } else if (const std::string name = a.substr(0, a.find('='));
                   name == "--timeout" || name == "--attempts" || name == "--user") {
            std::string value;
            if (a.size() > name.size()) {
                value = a.substr(name.size() + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return ctl::format(_("%s needs a value"), name.c_str());
            }
            if (name == "--user") {
                const std::string problem = checkName(kRoleUser, value);
                if (!problem.empty()) return ctl::format(_("--user: %s"), problem.c_str());
                opt.user = value;
            } else if (!parsePositive(value.c_str(), name == "--timeout" ? opt.timeoutS : opt.attempts)) {
                return ctl::format(_("%s needs a positive whole number, not '%s'"), name.c_str(), value.c_str());
            }
        } else {
            return ctl::format(_("unknown option %s"), a.c_str());
        }
    }
    return "";
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ---- simple calls ----

using vekobus::Call;
using vekobus::CallResult;
using vekobus::ServiceClient;

int cmdStatus(ServiceClient &bus) {
    namespace property = vekobus::property;
    for (const char *name : {property::kName, property::kState, property::kType, property::kCapability}) {
        CallResult result = bus.getProperty(name, kCallTimeoutMs);
        if (result.status != Call::kReplied)
            return fail(ctl::format(_("status: %s"), ctl::describeFailure(result).c_str()));
        DBusMessageIter it;
        if (!dbus_message_iter_init(result.reply.get(), &it))
            return fail(ctl::format(_("status: no value for %s"), name));
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
            std::printf("%s: %s\n", name, value);
        } else if (type == DBUS_TYPE_INT32) {
            dbus_int32_t value = 0;
            dbus_message_iter_get_basic(&it, &value);
            const char *note = "";
            if (std::strcmp(name, property::kState) == 0)
                note = value == property::kStateClaimed ? _(" (claimed)") : _(" (free)");
            std::printf("%s: %d%s\n", name, static_cast<int>(value), note);
        } else {
            return fail(ctl::format(_("status: unexpected value type for %s"), name));
        }
    }
    return kExitOk;
}

int cmdList(ServiceClient &bus, const std::string &user) {
    const char *id = user.c_str();
    CallResult result = bus.call(method::kListFingers, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    if (result.status != Call::kReplied) return fail(ctl::format(_("list: %s"), ctl::describeFailure(result).c_str()));
    DBusMessageIter it;
    DBusMessageIter array;
    if (!dbus_message_iter_init(result.reply.get(), &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY)
        return fail(_("list: the service's reply holds no list"));
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
    if (count == 0) std::fprintf(stderr, _("user \"%s\" has no enrolled fingers\n"), user.c_str());
    return kExitOk;
}

int cmdDelete(ServiceClient &bus, const std::string &user, const std::string *finger) {
    const char *id = user.c_str();
    CallResult result;
    if (finger != nullptr) {
        const char *name = finger->c_str();
        result = bus.call(method::kDeleteFinger, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &name,
                          DBUS_TYPE_INVALID);
        if (result.status == Call::kRefused && result.errorMessage == vekobus::answer::kDeleteFingerFail)
            return fail(ctl::format(_("delete: user \"%s\" has no finger \"%s\""), user.c_str(), finger->c_str()));
    } else {
        result = bus.call(method::kDeleteAllFingers, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    }
    if (result.status != Call::kReplied)
        return fail(ctl::format(_("delete: %s"), ctl::describeFailure(result).c_str()));
    if (finger != nullptr) {
        std::printf(_("deleted finger \"%s\" of user \"%s\"\n"), finger->c_str(), user.c_str());
    } else {
        std::printf(_("deleted all fingers of user \"%s\"\n"), user.c_str());
    }
    return kExitOk;
}

int cmdRename(ServiceClient &bus, const std::string &user, const std::string &finger, const std::string &newname) {
    const char *id = user.c_str();
    const char *from = finger.c_str();
    const char *to = newname.c_str();
    CallResult result = bus.call(method::kRenameFinger, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &from,
                                 DBUS_TYPE_STRING, &to, DBUS_TYPE_INVALID);
    if (result.status == Call::kRefused && result.errorMessage == vekobus::answer::kRenameFingerFail)
        return fail(ctl::format(_("rename: user \"%s\" has no finger \"%s\", or \"%s\" exists already"), user.c_str(),
                                finger.c_str(), newname.c_str()));
    if (result.status != Call::kReplied)
        return fail(ctl::format(_("rename: %s"), ctl::describeFailure(result).c_str()));
    std::printf(_("renamed finger \"%s\" of user \"%s\" to \"%s\"\n"), finger.c_str(), user.c_str(), newname.c_str());
    return kExitOk;
}

// ---- claimed sessions (enrol, verify) ----

// Claim on claim(); stop and release on finish(), whatever happened. Only a
// claim this client holds is ever released.
class Claimed {
  public:
    Claimed(ServiceClient &bus, const std::string &id, const char *stopMethod)
        : bus_(bus), id_(id), stop_(stopMethod) {}

    CallResult claim() {
        CallResult result = setClaim(true);
        // A claim whose reply is lost may still have been made.
        claimed_ = result.status != Call::kRefused;
        return result;
    }

    // Returns the exit code to use: `code`, or an error when releasing failed
    // although everything else went well.
    int finish(int code, bool started) {
        if (!claimed_) return code;
        // Stopping and releasing never wait long, even for a service that hangs.
        bus_.setDeadline(ServiceClient::nowMs() + kCleanUpMs);
        if (started) {
            CallResult stopped = bus_.call(stop_, kCallTimeoutMs, DBUS_TYPE_INVALID);
            if (stopped.status != Call::kReplied && code != kExitError)
                code = fail(
                    ctl::format(_("cannot stop the service's capture: %s"), ctl::describeFailure(stopped).c_str()));
        }
        CallResult released = setClaim(false);
        if (released.status != Call::kReplied && code != kExitError)
            code = fail(ctl::format(_("cannot release the device: %s"), ctl::describeFailure(released).c_str()));
        claimed_ = false;
        return code;
    }

  private:
    CallResult setClaim(bool on) {
        const char *id = id_.c_str();
        dbus_bool_t value = on ? TRUE : FALSE;
        return bus_.call(method::kClaim, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &value,
                         DBUS_TYPE_INVALID);
    }

    ServiceClient &bus_;
    std::string id_;
    const char *stop_;
    bool claimed_ = false;
};

// What waiting for the next status ended with.
enum class Next { kStatus, kTimeout, kInterrupted, kLost };

// Waits until `deadline` for a status with one of the members given.
Next waitStatus(ServiceClient &bus, double deadline, vekobus::Status &status) {
    while (!g_interrupted) {
        if (now() >= deadline) return Next::kTimeout;
        // Short waits, so that Ctrl-C is seen at once.
        switch (bus.nextStatus(status, kPollMs)) {
        case vekobus::Wait::kStatus:
            return Next::kStatus;
        case vekobus::Wait::kLost:
            return Next::kLost;
        case vekobus::Wait::kTimedOut:
            break;
        }
    }
    return Next::kInterrupted;
}

int reportWaitEnd(Next next, bool enrolment, int timeoutS) {
    if (next == Next::kInterrupted)
        return fail(enrolment ? _("interrupted; enrolment stopped") : _("interrupted; verification stopped"));
    if (next == Next::kTimeout)
        return fail(ctl::format(enrolment ? _("timed out: no answer from the sensor for %d s; enrolment stopped")
                                          : _("timed out: no answer from the sensor for %d s; verification stopped"),
                                timeoutS));
    return fail(enrolment ? _("lost the fingerprint service or the system bus; enrolment stopped")
                          : _("lost the fingerprint service or the system bus; verification stopped"));
}

// Connects and follows the service's signals of `members`, then claims the
// device for `id`. Returns kExitOk, or the exit code of the failure (reported).
int startSession(ServiceClient &bus, const char *command, const std::vector<std::string> &members, Claimed &session) {
    std::string problem;
    if (!bus.follow(members, kCallTimeoutMs, problem))
        return fail(
            ctl::format("%s: %s", command, bus.lost() ? _("the fingerprint service is not running") : problem.c_str()));
    // From here on Ctrl-C must not end the process before it has stopped and released.
    installInterruptHandlers();
    CallResult claimed = session.claim();
    if (claimed.status != Call::kReplied)
        return fail(ctl::format("%s: %s", command, ctl::describeFailure(claimed).c_str()));
    return kExitOk;
}

// Touches that were not taken during an enrolment, by reason.
struct Retries {
    int unusable = 0;
    int noOverlap = 0;
};

// The line for a touch the service did not take.
const char *retryText(const vekobus::Status &st, Retries &retries) {
    const std::string reason = ctl::jsonString(st.json, "reason");
    if (st.code == vekobus::retry::kUnusable || reason == "unusable") {
        ++retries.unusable;
        return _("touch not usable: lift and place the finger again");
    }
    ++retries.noOverlap;
    return _("touch did not overlap the earlier ones: place the finger closer to where it was");
}

int reportEnrolTimeout(const Retries &retries, int timeoutS) {
    if (retries.unusable == 0 && retries.noOverlap == 0)
        return fail(ctl::format(_("timed out: no answer from the sensor for %d s; enrolment stopped"), timeoutS));
    std::string why;
    if (retries.unusable > 0)
        why = ctl::format(dngettext(VEKO_TEXT_DOMAIN, "%d touch not usable", "%d touches not usable",
                                    static_cast<unsigned long>(retries.unusable)),
                          retries.unusable);
    if (retries.noOverlap > 0) {
        if (!why.empty()) why += ", ";
        why += ctl::format(
            dngettext(VEKO_TEXT_DOMAIN, "%d touch not overlapping the earlier ones",
                      "%d touches not overlapping the earlier ones", static_cast<unsigned long>(retries.noOverlap)),
            retries.noOverlap);
    }
    return fail(ctl::format(_("timed out: no touch taken for %d s (%s); enrolment stopped"), timeoutS, why.c_str()));
}

// The end of an enrolment, reported; `user` and `finger` for the texts.
int reportEnrolEnd(const vekobus::Status &st, const std::string &user, const std::string &finger) {
    if (st.code == enroll::kDone) {
        std::printf(_("enrolled finger \"%s\" of user \"%s\"\n"), finger.c_str(), user.c_str());
        return kExitOk;
    }
    if (st.code == enroll::kRefused && ctl::jsonInt(st.json, "subcode") == enroll::kTooManyFingers)
        return fail(ctl::format(_("enroll: user \"%s\" already has 10 fingers; delete one first"), user.c_str()));
    if (st.code == enroll::kRefused && ctl::jsonInt(st.json, "subcode") == enroll::kNameExists)
        return fail(ctl::format(_("enroll: user \"%s\" already has a finger \"%s\""), user.c_str(), finger.c_str()));
    if (st.code == enroll::kRefused) return fail(_("enroll: enrolment was stopped, or the finger could not be stored"));
    if (st.code == enroll::kSensorFailed) return fail(_("enroll: the sensor did not accept the capture command"));
    return fail(ctl::format(_("enroll: unexpected status %d %s"), st.code, st.json.c_str()));
}

// A refusal at the start of this enrolment: the service sends it before its
// reply to Enroll. Any other status that came before the reply belongs to a
// capture that ended before this enrolment began.
bool isStartRefusal(const vekobus::Status &st, const std::string &user) {
    const int subcode = ctl::jsonInt(st.json, "subcode");
    return st.member == vekobus::signal::kEnrollStatus && st.id == user && st.code == enroll::kRefused &&
           (subcode == enroll::kTooManyFingers || subcode == enroll::kNameExists);
}

int cmdEnroll(ServiceClient &bus, const Options &opt, const std::string &user, const std::string &finger) {
    Claimed session(bus, user, method::kStopEnroll);
    if (const int failed =
            startSession(bus, "enroll", {vekobus::signal::kEnrollStatus, vekobus::signal::kEnrollRetry}, session);
        failed != kExitOk)
        return session.finish(failed, false);
    const char *id = user.c_str();
    const char *name = finger.c_str();
    CallResult started =
        bus.call(method::kEnroll, kCallTimeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    if (started.status != Call::kReplied)
        return session.finish(fail(ctl::format(_("enroll: %s"), ctl::describeFailure(started).c_str())), false);
    for (const vekobus::Status &early : bus.beforeReply())
        if (isStartRefusal(early, user)) return session.finish(reportEnrolEnd(early, user, finger), true);

    ctl::Progress progress(stdout, isatty(STDOUT_FILENO) != 0);
    progress.start(user, finger);
    Retries retries;
    int result = kExitError;
    // The time-out runs from the last touch taken: touches that are not
    // taken do not keep the enrolment alive for ever.
    double deadline = now() + opt.timeoutS;
    for (;;) {
        vekobus::Status st;
        const Next next = waitStatus(bus, deadline, st);
        if (next != Next::kStatus) {
            progress.finish(false);
            result = next == Next::kTimeout ? reportEnrolTimeout(retries, opt.timeoutS)
                                            : reportWaitEnd(next, true, opt.timeoutS);
            break;
        }
        if (st.id != user) continue;  // not this enrolment
        if (st.member == vekobus::signal::kEnrollRetry) {
            progress.note(retryText(st, retries));
            continue;
        }
        if (st.code == enroll::kProgress) {
            progress.step(ctl::jsonInt(st.json, "progress"));
            deadline = now() + opt.timeoutS;
            continue;
        }
        progress.finish(st.code == enroll::kDone);
        result = reportEnrolEnd(st, user, finger);
        break;
    }
    return session.finish(result, true);
}

int cmdVerify(ServiceClient &bus, const Options &opt, const std::string &finger) {
    Claimed session(bus, opt.user.empty() ? kClaimId : opt.user, method::kStopVerify);
    if (const int failed = startSession(bus, "verify", {vekobus::signal::kVerifyStatus}, session); failed != kExitOk)
        return session.finish(failed, false);
    const char *name = finger.c_str();
    CallResult started = bus.call(method::kVerify, kCallTimeoutMs, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    if (started.status != Call::kReplied)
        return session.finish(fail(ctl::format(_("verify: %s"), ctl::describeFailure(started).c_str())), false);
    // Statuses that came before the reply belong to a capture that ended
    // before this verification began: bus.nextStatus never returns them.

    std::printf("%s\n", _("touch the sensor"));
    std::fflush(stdout);
    int misses = 0;
    int result = kExitError;
    for (;;) {
        vekobus::Status st;
        const Next next = waitStatus(bus, now() + opt.timeoutS, st);
        if (next != Next::kStatus) {
            result = reportWaitEnd(next, false, opt.timeoutS);
            break;
        }
        if (st.code == verify::kMatch) {
            std::printf(_("match: user \"%s\"\n"), st.id.c_str());
            result = kExitOk;
        } else if (st.code == verify::kNoMatch) {
            ++misses;
            if (misses < opt.attempts) {
                std::printf(_("no match (%d of %d), touch again\n"), misses, opt.attempts);
                std::fflush(stdout);
                continue;
            }
            std::printf("%s\n", _("no match"));
            result = kExitNoMatch;
        } else if (st.code == verify::kEnded) {
            std::printf("%s\n", _("no match: nothing enrolled to compare with, or the touch could not be read"));
            result = kExitNoMatch;
        } else if (st.code == verify::kSensorFailed) {
            result = fail(_("verify: the sensor did not accept the capture command"));
        } else {
            result = fail(ctl::format(_("verify: unexpected status %d %s"), st.code, st.json.c_str()));
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
    if (shape == nullptr) return usageError(ctl::format(_("unknown command '%s'"), cmd.c_str()));
    const size_t given = a.size() - 1;
    if (given < shape->least) return usageError(ctl::format(_("%s: missing arguments"), cmd.c_str()));
    if (given > shape->most) return usageError(ctl::format(_("%s: too many arguments"), cmd.c_str()));

    // Check the names before anything reaches the service.
    static const char *const kRoles[][3] = {
        {"", "", ""},          {kRoleUser, "", ""},          {kRoleUser, kRoleFinger, ""},
        {kRoleFinger, "", ""}, {kRoleUser, kRoleFinger, ""}, {kRoleUser, kRoleFinger, kRoleNewName}};
    const size_t shapeIndex = static_cast<size_t>(shape - kShapes);
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string problem = checkName(kRoles[shapeIndex][i - 1], a[i]);
        if (!problem.empty()) return usageError(ctl::format("%s: %s", cmd.c_str(), problem.c_str()));
    }

    // The system bus, or the one DBUS_SYSTEM_BUS_ADDRESS names (test buses).
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    ServiceClient bus;
    CallResult opened;
    if (!bus.open(address != nullptr && address[0] != '\0' ? address : vekobus::kSystemBusAddress, kCallTimeoutMs,
                  opened))
        return fail(ctl::describeFailure(opened));
    if (cmd == "status") return cmdStatus(bus);
    if (cmd == "list") return cmdList(bus, a[1]);
    if (cmd == "enroll") return cmdEnroll(bus, opt, a[1], a[2]);
    if (cmd == "verify") return cmdVerify(bus, opt, given == 1 ? a[1] : std::string());
    if (cmd == "delete") return cmdDelete(bus, a[1], given == 2 ? &a[2] : nullptr);
    return cmdRename(bus, a[1], a[2], a[3]);
}

}  // namespace

int main(int argc, char **argv) {
    // Texts in the user's language; numbers and names as they are.
    std::setlocale(LC_MESSAGES, "");
    std::setlocale(LC_CTYPE, "");
    vekoBindTextDomain();
    Options opt;
    const std::string problem = parseOptions(argc, argv, opt);
    if (!problem.empty()) return usageError(problem);
    if (opt.help) {
        std::fputs(_(kUsage), stdout);
        return kExitOk;
    }
    if (opt.args.empty()) return usageError(_("no command given"));
    return run(opt);
}
