// The module's own connection to the fingerprint service.
//
// The connection is private: it is opened for one authentication and closed at
// its end, so nothing is shared with the host program or with other modules.
// Every call waits for its reply with a deadline, reading the connection
// itself, so no answer (or lack of one) can make the host wait longer. Status
// signals count only when they come from the current owner of the service's
// name, on its object path and interface: another program on the bus cannot
// forge a match.
#pragma once

#include <dbus/dbus.h>

#include <string>

#include "dbus_handles.h"

namespace vekopam {

inline constexpr const char *kServiceName = "com.vekoid.fprint";
inline constexpr const char *kServiceInterface = "com.vekoid.fprint";
inline constexpr const char *kServicePath = "/com/vekoid";

// How a method call ended: a reply, an error reply, no reply in time, or the
// bus or the service gone.
enum class Call { kReplied, kRefused, kTimedOut, kLost };

struct CallResult {
    Call status = Call::kLost;
    MessagePtr reply;          // kReplied
    std::string errorName;     // kRefused
    std::string errorMessage;  // kRefused
};

// One VerifyStatus signal of the service.
struct VerifyStatus {
    std::string id;
    int code = 0;
    std::string json;
};

enum class Wait { kStatus, kTimedOut, kLost };

class ServiceLink {
  public:
    ServiceLink() = default;
    ~ServiceLink();
    ServiceLink(const ServiceLink &) = delete;
    ServiceLink &operator=(const ServiceLink &) = delete;

    // Connects to the bus at `address` and says hello to it.
    bool open(const std::string &address, int timeoutMs, std::string &problem);

    // Calls `member` of the service's interface with the arguments that follow
    // (libdbus type/pointer pairs ended by DBUS_TYPE_INVALID). Before follow()
    // the call goes to the service's name (which may start the service);
    // after it, to the owner that follow() found.
    CallResult call(const char *member, int timeoutMs, int firstType, ...);

    // Subscribes to the service's VerifyStatus signals and to changes of its
    // name's owner, then learns the current owner: from here on only that
    // owner is talked to and listened to, and its leaving the bus ends
    // everything.
    bool follow(int timeoutMs, std::string &problem);

    // Waits up to `timeoutMs` for the next VerifyStatus of the followed owner.
    Wait nextStatus(VerifyStatus &status, int timeoutMs);

    // The bus connection or the followed owner is gone.
    bool lost() const { return lost_; }

  private:
    CallResult exchange(DBusMessage *message, int timeoutMs);
    CallResult callBus(const char *member, int timeoutMs, const char *argument);
    bool noteLoss(DBusMessage *message);
    bool readStatus(DBusMessage *message, VerifyStatus &status) const;

    DBusConnection *conn_ = nullptr;
    std::string owner_;
    bool lost_ = false;
    // A call went unanswered: the service hangs, and later calls would only
    // add their own time-outs.
    bool unresponsive_ = false;
};

}  // namespace vekopam
