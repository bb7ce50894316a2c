// What the service's answers mean for the person at the command line: the
// numbers in its JSON texts, and one line for every way a call can fail.
#pragma once

#include <string>

#include "service_client.h"

namespace ctl {

// The integer value of `key` in one of the service's flat JSON texts
// ({"progress":50}, {"subcode":3}); -1 when the key or a number is missing.
int jsonInt(const std::string &json, const char *key);

// The string value of `key` in a flat JSON text ({"reason":"unusable"}); ""
// when missing.
std::string jsonString(const std::string &json, const char *key);

// printf into a string (a translated format, say).
std::string format(const char *text, ...) __attribute__((format(printf, 1, 2)));

// One line saying what a failed call (or a connection that could not be
// opened) means for the user.
std::string describeFailure(const vekobus::CallResult &result);

}  // namespace ctl
