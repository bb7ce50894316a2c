// Where the authentication happens, as logind knows it: the person must be at
// this machine, in the session that is in front of them, to touch its sensor.
#pragma once

#include <sys/types.h>

#include <string>

#include "service_client.h"

namespace vekopam {

enum class Place {
    kHere,      // an active local session, or no word from logind (no logind, no session)
    kRemote,    // a session logind calls remote (ssh, say)
    kInactive,  // a session that is not the one in front of the person (switched away)
};

// Asks logind on `bus` about the session of process `pid`. `why` says what
// was found.
Place placeOf(vekobus::ServiceClient &bus, pid_t pid, int timeoutMs, std::string &why);

}  // namespace vekopam
