// pam_veko2547: fingerprint authentication for sudo, login and screen lockers
// through the veko2547 fingerprint service on the system bus.
//
//   auth [success=end default=ignore] pam_veko2547.so [max-tries=N] [timeout=S] [debug] [bus=ADDRESS]
//
// Success only when the service matches a finger of the user being
// authenticated. Without a finger of the user, without the service or the
// sensor, the module answers PAM_AUTHINFO_UNAVAIL at once, so the stack goes
// on to the password. The module keeps no state between calls and exports
// nothing but the two PAM functions.
#include <security/pam_ext.h>
#include <security/pam_modules.h>

#include <new>
#include <string>
#include <vector>

#include "conversation.h"
#include "i18n.h"
#include "module_log.h"
#include "module_options.h"
#include "request_checks.h"
#include "verification.h"

#define VEKO_PAM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int authenticate(pam_handle_t *pamh, int flags, int argc, const char **argv) {
    vekoBindTextDomain();
    std::vector<std::string> problems;
    const vekopam::Options options = vekopam::parseOptions(argc, argv, problems);
    const vekopam::ModuleLog log(pamh, options.debug);
    for (const std::string &problem : problems) log.warning(problem);

    const char *name = nullptr;
    const int got = pam_get_user(pamh, &name, nullptr);
    if (got != PAM_SUCCESS || name == nullptr) {
        log.debug("no user name");
        return got == PAM_CONV_AGAIN ? PAM_INCOMPLETE : PAM_USER_UNKNOWN;
    }
    const std::string user = name;
    if (!vekopam::isFingerOwnerName(user)) {
        log.debug("the user name cannot have fingers");
        return PAM_AUTHINFO_UNAVAIL;
    }
    std::string why;
    if (vekopam::isRemoteRequest(pamh, why)) {
        log.debug(why);
        return PAM_AUTHINFO_UNAVAIL;
    }
    vekopam::Conversation conversation(pamh, (flags & PAM_SILENT) != 0);
    return vekopam::verifyUser(options, user, conversation, log);
}

}  // namespace

VEKO_PAM_EXPORT int pam_sm_authenticate(pam_handle_t *pamh, int flags, int argc, const char **argv) {
    // Nothing may unwind into the host, which is often written in C.
    try {
        return authenticate(pamh, flags, argc, argv);
    } catch (const std::bad_alloc &) {
        return PAM_BUF_ERR;
    } catch (...) {
        return PAM_SERVICE_ERR;
    }
}

// A fingerprint gives no credentials to set.
VEKO_PAM_EXPORT int pam_sm_setcred(pam_handle_t *, int, int, const char **) { return PAM_SUCCESS; }
