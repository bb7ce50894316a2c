// Whether an authentication request may use the fingerprint sensor at all,
// decided before the service is asked anything.
#pragma once

#include <security/pam_modules.h>

#include <string>

namespace vekopam {

// The service keeps fingers under the user name: 1-58 bytes of UTF-8, not
// starting with ".", without "/" or control characters. No other name can
// have a finger (and libdbus would abort the host on text that is not UTF-8).
bool isFingerOwnerName(const std::string &user);

// The request comes from another machine (PAM_RHOST names a host other than
// this one): the person there is not at this machine's sensor. `why` says so.
bool isRemoteRequest(pam_handle_t *pamh, std::string &why);

}  // namespace vekopam
