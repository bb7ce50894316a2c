#include "module_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vekopam {

namespace {

constexpr long kMostTries = 100;
constexpr long kLongestTimeoutS = 3600;

// The value after `key` when `arg` is "key=value", else nullptr.
const char *valueOf(const char *arg, const char *key) {
    const size_t length = std::strlen(key);
    if (std::strncmp(arg, key, length) != 0 || arg[length] != '=') return nullptr;
    return arg + length + 1;
}

// A whole number in 1..most, or 0 when the text is not one.
int positive(const char *text, long most) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > most) return 0;
    return static_cast<int>(value);
}

}  // namespace

Options parseOptions(int argc, const char **argv, std::vector<std::string> &problems) {
    Options options;
    for (int i = 0; i < argc; ++i) {
        const char *arg = argv[i];
        if (arg == nullptr) continue;
        const char *value = nullptr;
        if (std::strcmp(arg, "debug") == 0) {
            options.debug = true;
        } else if ((value = valueOf(arg, "max-tries")) != nullptr) {
            const int tries = positive(value, kMostTries);
            if (tries > 0)
                options.maxTries = tries;
            else
                problems.push_back(std::string("max-tries needs a whole number from 1 to 100, not '") + value + "'");
        } else if ((value = valueOf(arg, "timeout")) != nullptr) {
            const int seconds = positive(value, kLongestTimeoutS);
            if (seconds > 0)
                options.timeoutS = seconds;
            else
                problems.push_back(std::string("timeout needs a number of seconds from 1 to 3600, not '") + value +
                                   "'");
        } else if ((value = valueOf(arg, "bus")) != nullptr) {
            if (*value != '\0')
                options.busAddress = value;
            else
                problems.push_back("bus needs an address");
        } else {
            problems.push_back(std::string("unknown argument '") + arg + "'");
        }
    }
    return options;
}

}  // namespace vekopam
