#include "module_log.h"

#include <security/pam_ext.h>

namespace vekopam {

void ModuleLog::write(int priority, const std::string &text) const { pam_syslog(pamh_, priority, "%s", text.c_str()); }

}  // namespace vekopam
