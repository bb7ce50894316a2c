// A client's connection to the fingerprint service, shared by the PAM module
// and veko2547-ctl.
//
// The connection is private: opened for one task and closed at its end, so
// nothing is shared with a host program or with other modules. Every call
// waits for its reply with a deadline, reading the connection itself, so no
// answer (or lack of one) can make the caller wait longer. Once the client
// follows the service, status signals count only when they come from the
// owner of the service's name at that moment, on its object path and
// interface, with the service's argument types: another program on the bus
// cannot forge a result, and the owner's leaving the bus ends everything.
#pragma once

#include <dbus/dbus.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "contract.h"
#include "dbus_handles.h"

namespace vekobus {

// How a method call ended: a reply, an error reply, no reply in time, or the
// bus or the service gone.
enum class Call { kReplied, kRefused, kTimedOut, kLost };

struct CallResult {
    Call status = Call::kLost;
    MessagePtr reply;          // kReplied
    std::string errorName;     // kRefused, and a connection that could not be opened
    std::string errorMessage;  // kRefused
};

// One status signal of the service (EnrollStatus, EnrollRetry, VerifyStatus).
struct Status {
    std::string member;
    std::string id;
    int code = 0;
    std::string json;
};

enum class Wait { kStatus, kTimedOut, kLost };

class ServiceClient {
  public:
    ServiceClient() = default;
    ~ServiceClient();
    ServiceClient(const ServiceClient &) = delete;
    ServiceClient &operator=(const ServiceClient &) = delete;

    // Connects to the bus at `address` and says hello to it. On failure
    // `failure` holds the error's name and message (kLost) or a time-out.
    bool open(const std::string &address, int timeoutMs, CallResult &failure);

    // Calls `member` of the service's interface with the arguments that follow
    // (libdbus type/pointer pairs ended by DBUS_TYPE_INVALID). Before follow()
    // the call goes to the service's name (which may start the service);
    // after it, to the owner that follow() found.
    CallResult call(const char *member, int timeoutMs, int firstType, ...);
    // org.freedesktop.DBus.Properties.Get of one of the service's properties.
    CallResult getProperty(const char *property, int timeoutMs);
    // A call to another service on the same bus (logind, say), within the deadline.
    CallResult callOther(const char *destination, const char *path, const char *interface, const char *member,
                         int timeoutMs, int firstType, ...);

    // Subscribes to the service's signals named in `members` and to changes of
    // its name's owner, then learns the current owner: from here on only that
    // owner is talked to and listened to.
    bool follow(const std::vector<std::string> &members, int timeoutMs, std::string &problem);

    // Waits up to `timeoutMs` for the next status of the followed owner.
    // Statuses that arrived while a call waited for its reply are not among
    // them: they happened before the call was answered (see beforeReply).
    Wait nextStatus(Status &status, int timeoutMs);

    // The statuses that arrived while the last call waited for its reply.
    const std::vector<Status> &beforeReply() const { return beforeReply_; }

    // The bus connection or the followed owner is gone.
    bool lost() const { return lost_; }

    // From now on no call and no wait lasts beyond `deadlineMs` (on the clock
    // of nowMs()); 0 lifts the limit. A call whose deadline has passed is
    // still sent, and ends as timed out.
    void setDeadline(long long deadlineMs) { deadline_ = deadlineMs; }
    // Milliseconds on a monotonic clock.
    static long long nowMs();

  private:
    CallResult exchange(DBusMessage *message, int timeoutMs);
    // Appends the arguments to `message` (none when it is null or they do not
    // fit: an empty result) and exchanges it.
    CallResult exchangeWith(DBusMessage *message, int timeoutMs, int firstType, va_list args);
    CallResult callBus(const char *member, int timeoutMs, const char *argument);
    bool noteLoss(DBusMessage *message);
    bool readStatus(DBusMessage *message, Status &status) const;

    DBusConnection *conn_ = nullptr;
    std::string owner_;
    std::vector<std::string> members_;
    std::vector<Status> beforeReply_;
    bool lost_ = false;
    long long deadline_ = 0;

    // The end of a wait of `timeoutMs` from now, within the deadline.
    long long waitEnd(int timeoutMs) const;
};

}  // namespace vekobus
