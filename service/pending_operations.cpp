// Operations whose sensor, store or worker code is not built yet. Each answers
// as if no sensor were attached and no finger were stored. When an operation is
// built, its stand-in here is removed.
#include "log.h"
#include "operations.h"
