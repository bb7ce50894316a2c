// Messages to the person at the sensor, through the host program's PAM
// conversation.
#pragma once

#include <security/pam_modules.h>

#include "i18n.h"

namespace vekopam {

class Conversation {
  public:
    // `silent` (PAM_SILENT) keeps every message back.
    Conversation(pam_handle_t *pamh, bool silent) : pamh_(pamh), silent_(silent) {}

    // Each returns false when the host ended the conversation (it answered a
    // message with an error): the authentication is then abandoned. `text`
    // is one of text:: below, told in the host's language.
    bool info(const char *text) { return say(PAM_TEXT_INFO, text); }
    bool error(const char *text) { return say(PAM_ERROR_MSG, text); }

  private:
    bool say(int style, const char *text);

    pam_handle_t *pamh_;
    bool silent_;
};

// What the module tells the person (in English; translated when told).
namespace text {
inline constexpr const char *kPlaceFinger = N_("Place your finger on the fingerprint reader");
inline constexpr const char *kTryAgain = N_("No match, try again");
inline constexpr const char *kNoMatch = N_("Fingerprint not recognised");
inline constexpr const char *kTimedOut = N_("Fingerprint reader timed out");
inline constexpr const char *kReaderFailed = N_("Fingerprint reader is not available");
inline constexpr const char *kBusy = N_("Fingerprint reader is busy");
}  // namespace text

}  // namespace vekopam
