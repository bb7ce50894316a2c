#include "conversation.h"

#include <cstdlib>

#include "i18n.h"

namespace vekopam {

bool Conversation::say(int style, const char *text) {
    if (silent_) return true;
    const void *item = nullptr;
    if (pam_get_item(pamh_, PAM_CONV, &item) != PAM_SUCCESS || item == nullptr) return true;  // nobody to tell
    const auto *conv = static_cast<const pam_conv *>(item);
    if (conv->conv == nullptr) return true;
    // Told in the language of the host's locale.
    pam_message message{style, _(text)};
    const pam_message *messages[] = {&message};
    pam_response *responses = nullptr;
    const int result = conv->conv(1, messages, &responses, conv->appdata_ptr);
    // The answers belong to the module now, whatever the result.
    if (responses != nullptr) {
        std::free(responses[0].resp);
        std::free(responses);
    }
    return result == PAM_SUCCESS;
}

}  // namespace vekopam
