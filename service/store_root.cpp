// Root directory of the finger files.
#include <cstdio>
#include <cstring>

#include "operations.h"

char m_filePath[kStoreRootSize] = "/usr/share/deepin-authentication/modes/veko2547/";

void vkSetStoreRoot(const char *root) {
    if (root == nullptr || root[0] == '\0') return;
    const char *slash = root[strlen(root) - 1] == '/' ? "" : "/";
    snprintf(m_filePath, sizeof m_filePath, "%s%s", root, slash);
}
