// The module's messages to syslog, through pam_syslog (the service and module
// name come first on every line). Text given here is never a format.
#pragma once

#include <security/pam_modules.h>
#include <syslog.h>

#include <string>

namespace vekopam {

class ModuleLog {
  public:
    ModuleLog(pam_handle_t *pamh, bool debug) : pamh_(pamh), debug_(debug) {}

    // Every step, with the `debug` argument only.
    void debug(const std::string &text) const {
        if (debug_) write(LOG_DEBUG, text);
    }
    // Problems an administrator should see: a bad configuration, a service
    // that answers what it never should.
    void warning(const std::string &text) const { write(LOG_WARNING, text); }

  private:
    void write(int priority, const std::string &text) const;

    pam_handle_t *pamh_;
    bool debug_;
};

}  // namespace vekopam
