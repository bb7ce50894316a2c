// Mean gradient vector and principal directions of the local gradient
// descriptor. Placeholder until the basis is trained from real prints.
#include "QVAlgDll.h"

const int16_t g_meanvec[722] = {};
const int16_t g_eigspace[24 * 722] = {};
