// One fingerprint authentication through the service: is there a finger of
// the user, claim the device, verify until the user's finger matches, the
// tries are used up or nothing happens for too long, and on every way out stop
// the verification and release the device.
#pragma once

#include <string>

#include "conversation.h"
#include "module_log.h"
#include "module_options.h"

namespace vekopam {

// Returns PAM_SUCCESS only when the service reports a match whose user id is
// `user`. PAM_AUTHINFO_UNAVAIL when the bus, the service, the sensor or a
// finger of the user is missing, when the sensor fails, when no match came
// within the time-out (whatever the service does: it may hang), or when the
// service leaves; PAM_AUTH_ERR after `maxTries` touches that did not
// match the user; PAM_CONV_ERR when the host ended the conversation.
int verifyUser(const Options &options, const std::string &user, Conversation &conversation, const ModuleLog &log);

}  // namespace vekopam
