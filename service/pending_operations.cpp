// Operations whose sensor, store or worker code is not built yet. Each answers
// as if no sensor were attached and no finger were stored. When an operation is
// built, its stand-in here is removed.
#include "log.h"
#include "operations.h"

// Like every sensor open, posts the date line and the version first.
int vkOpenDev() {
    vklogtm();
    _vklogstr("1.1.0.4");
    return -3;
}

void vkCloseDev() {}

int vkLstDev(int32_t *count) {
    *count = 0;
    return 0;
}

int vkEnrollFp(const char *, const char *) { return -2; }

int vkStopEnroll() { return 0; }

int vkVerifyFp(const char *) { return -2; }

int vkStopVerify() { return 0; }
