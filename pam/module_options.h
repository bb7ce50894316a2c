// The module's arguments from the PAM configuration line.
#pragma once

#include <string>
#include <vector>

#include "service_client.h"

namespace vekopam {

inline constexpr int kDefaultMaxTries = 3;
inline constexpr int kDefaultTimeoutS = 10;

struct Options {
    int maxTries = kDefaultMaxTries;  // non-matching touches before giving up
    int timeoutS = kDefaultTimeoutS;  // seconds the whole authentication may take (then at most 1 s to stop)
    bool debug = false;               // details of every step to syslog
    // The module never takes the bus address from the environment: the caller
    // of a set-user-id program such as sudo controls it.
    std::string busAddress = vekobus::kSystemBusAddress;
};

// Reads "max-tries=N", "timeout=S", "debug" and "bus=ADDRESS". An unknown
// argument or a bad value is described in `problems` and leaves the default:
// a typing error in the configuration must not lock anybody out.
Options parseOptions(int argc, const char **argv, std::vector<std::string> &problems);

}  // namespace vekopam
