#include "verification.h"

#include <security/pam_modules.h>
#include <unistd.h>

#include "login_session.h"
#include "service_client.h"

namespace vekopam {

namespace {

using vekobus::Call;
using vekobus::CallResult;
using vekobus::ServiceClient;
using vekobus::Wait;

// The whole authentication keeps to the `timeout` option: every call and
// every wait ends by then, whatever the service does. The clean-up after it
// (stop, release) takes at most this much more, and is sent even when the
// service did not answer before.
constexpr int kCleanUpMs = 1000;
// Of it, the stop may take this much (the service ends a capture within
// 0.8 s); the release gets the rest.
constexpr int kStopCallMs = 800;
// Longest wait for one answer while the authentication's time lasts.
constexpr int kCallMs = 5000;

namespace method = vekobus::method;
namespace verify = vekobus::verify;

// Longest piece of a service's answer copied into the log.
constexpr size_t kLoggedAnswer = 120;

std::string describe(const CallResult &result) {
    switch (result.status) {
    case Call::kReplied:
        return "replied";
    case Call::kRefused:
        return result.errorName + ": " + result.errorMessage.substr(0, kLoggedAnswer);
    case Call::kTimedOut:
        return "no reply in time";
    case Call::kLost:
        break;
    }
    return "the bus or the service went away";
}

// Number of fingers the service stores for `user`; -1 when it cannot tell.
int countFingers(ServiceClient &link, const std::string &user, const ModuleLog &log) {
    const char *id = user.c_str();
    CallResult result = link.call(method::kListFingers, kCallMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    if (result.status != Call::kReplied) {
        log.debug("ListFingers: " + describe(result));
        return -1;
    }
    DBusMessageIter it;
    DBusMessageIter array;
    if (!dbus_message_iter_init(result.reply.get(), &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
        log.warning("ListFingers: the reply holds no list");
        return -1;
    }
    // A user without fingers comes back as an empty array of another type:
    // only string elements are finger names.
    int count = 0;
    dbus_message_iter_recurse(&it, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
        ++count;
        dbus_message_iter_next(&array);
    }
    return count;
}

// Holds the device for one authentication. Whatever way the authentication
// ends, a started verification is stopped and the claim is given back.
class DeviceHold {
  public:
    DeviceHold(ServiceClient &link, const std::string &user, const ModuleLog &log)
        : link_(link), user_(user), log_(log) {}
    DeviceHold(const DeviceHold &) = delete;
    DeviceHold &operator=(const DeviceHold &) = delete;

    // The clean-up has a time of its own, so it is sent even when the
    // authentication's time ran out waiting for the service.
    ~DeviceHold() {
        if (!verifying_ && !claimed_) return;
        link_.setDeadline(ServiceClient::nowMs() + kCleanUpMs);
        if (verifying_) logFailure("StopVerify", link_.call(method::kStopVerify, kStopCallMs, DBUS_TYPE_INVALID));
        if (claimed_) release();
    }

    enum class Claimed { kYes, kBusy, kNo };

    // Claims the device. Another program's claim is answered "device busy.".
    Claimed claim() {
        const CallResult result = claimCall(true, kCallMs);
        // Counted as claimed unless the service said no: a claim whose reply
        // is lost may still have been made.
        claimed_ = result.status != Call::kRefused;
        if (result.status == Call::kReplied) return Claimed::kYes;
        logFailure("Claim", result);
        if (result.status == Call::kRefused && result.errorName == vekobus::answer::kErrorFailed &&
            result.errorMessage == vekobus::answer::kDeviceBusy)
            return Claimed::kBusy;
        return Claimed::kNo;
    }

    // Starts (or starts again) a verification against every finger.
    bool verify() {
        verifying_ = true;
        const char *any = "any";
        return logFailure("Verify", link_.call(method::kVerify, kCallMs, DBUS_TYPE_STRING, &any, DBUS_TYPE_INVALID));
    }

  private:
    CallResult claimCall(bool on, int timeoutMs) {
        const char *id = user_.c_str();
        dbus_bool_t value = on ? TRUE : FALSE;
        return link_.call(method::kClaim, timeoutMs, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &value,
                          DBUS_TYPE_INVALID);
    }

    void release() {
        logFailure("Claim(false)", claimCall(false, kCleanUpMs));
        claimed_ = false;
    }

    bool logFailure(const char *what, const CallResult &result) {
        if (result.status == Call::kReplied) return true;
        log_.debug(std::string(what) + ": " + describe(result));
        return false;
    }

    ServiceClient &link_;
    const std::string &user_;
    const ModuleLog &log_;
    bool claimed_ = false;
    bool verifying_ = false;
};

// Waits for the touches; see verifyUser.
int awaitMatch(const Options &options, const std::string &user, ServiceClient &link, DeviceHold &hold,
               Conversation &conversation, const ModuleLog &log) {
    int tries = 0;
    for (;;) {
        vekobus::Status status;
        const Wait wait = link.nextStatus(status, options.timeoutS * 1000);
        if (wait == Wait::kTimedOut) {
            log.debug("no match within the time-out of " + std::to_string(options.timeoutS) + " s");
            conversation.error(text::kTimedOut);
            return PAM_AUTHINFO_UNAVAIL;
        }
        if (wait == Wait::kLost) {
            log.debug("the service or the bus went away during the verification");
            conversation.error(text::kReaderFailed);
            return PAM_AUTHINFO_UNAVAIL;
        }
        log.debug("VerifyStatus code " + std::to_string(status.code) + " id '" + status.id.substr(0, kLoggedAnswer) +
                  "' " + status.json.substr(0, kLoggedAnswer));
        // The service ends its verification after a match of anybody and
        // after an unusable touch: it is started again for the next try.
        bool restart = false;
        switch (status.code) {
        case verify::kMatch:
            if (status.id == user) return PAM_SUCCESS;
            log.debug("the touch matched a finger of another user");
            restart = true;
            break;
        case verify::kNoMatch:
            break;
        case verify::kEnded:
            restart = true;
            break;
        case verify::kSensorFailed:
            conversation.error(text::kReaderFailed);
            return PAM_AUTHINFO_UNAVAIL;
        default:
            log.warning("the service answered with the unknown verification code " + std::to_string(status.code));
            conversation.error(text::kReaderFailed);
            return PAM_AUTHINFO_UNAVAIL;
        }
        if (++tries >= options.maxTries) {
            log.debug("no match after " + std::to_string(tries) + " tries");
            conversation.error(text::kNoMatch);
            return PAM_AUTH_ERR;
        }
        if (!conversation.error(text::kTryAgain)) return PAM_CONV_ERR;
        if (restart && !hold.verify()) {
            conversation.error(text::kReaderFailed);
            return PAM_AUTHINFO_UNAVAIL;
        }
    }
}

}  // namespace

int verifyUser(const Options &options, const std::string &user, Conversation &conversation, const ModuleLog &log) {
    ServiceClient link;
    link.setDeadline(ServiceClient::nowMs() + options.timeoutS * 1000LL);
    CallResult opened;
    if (!link.open(options.busAddress, kCallMs, opened)) {
        log.debug("cannot connect to the bus: " + opened.errorMessage);
        return PAM_AUTHINFO_UNAVAIL;
    }
    // Nobody can touch this machine's sensor from another machine, or from a
    // session that is not in front of them: the password, at once, unasked.
    std::string where;
    const Place place = placeOf(link, getpid(), kCallMs, where);
    log.debug(where);
    if (place != Place::kHere) return PAM_AUTHINFO_UNAVAIL;
    std::string problem;
    const int fingers = countFingers(link, user, log);
    if (fingers <= 0) {
        if (fingers == 0) log.debug("no finger enrolled for " + user);
        return PAM_AUTHINFO_UNAVAIL;
    }
    if (!link.follow({vekobus::signal::kVerifyStatus}, kCallMs, problem)) {
        log.debug(problem);
        return PAM_AUTHINFO_UNAVAIL;
    }
    // Declared after the link: the device is released before the connection closes.
    DeviceHold hold(link, user, log);
    switch (hold.claim()) {
    case DeviceHold::Claimed::kYes:
        break;
    case DeviceHold::Claimed::kBusy:
        // Another program (an enrolment, another login) uses the reader:
        // say so and go on to the next method at once.
        conversation.error(text::kBusy);
        return PAM_AUTHINFO_UNAVAIL;
    case DeviceHold::Claimed::kNo:
        return PAM_AUTHINFO_UNAVAIL;
    }
    if (!hold.verify()) return PAM_AUTHINFO_UNAVAIL;
    log.debug("verifying " + std::to_string(fingers) + " finger(s) of " + user);
    if (!conversation.info(text::kPlaceFinger)) return PAM_CONV_ERR;
    return awaitMatch(options, user, link, hold, conversation, log);
}

}  // namespace vekopam
