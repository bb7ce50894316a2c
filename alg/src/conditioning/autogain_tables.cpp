// Tables of the automatic gain search: the gain factor of each gain index and
// the per-mille black-clipping ratios. Listed data, shared by both variants.
#include "QVAlgDll.h"

// Gain factor of the first two stages (indices g0 and g1).
const int32_t g_ZenYiValues[16] = {2, 4, 5, 6, 7, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28};
// Gain factor of index g2; only 0..3 are used.
const int32_t g_ZenYiValues2[16] = {1, 2, 4, 8};
// Gain factor of index g3; only 0..7 are used.
const int32_t g_ZenYiValues3[16] = {1, 2, 3, 4, 5, 6, 7, 8};

// Rising from 32 to 968: the first index at or above a per-mille ratio, times 10,
// is a target low level.
const int16_t aGA_g_StaticRatios[100] = {
    32,  36,  42,  47,  54,  61,  69,  77,  87,  97,  108, 120, 133, 147, 162, 177, 193, 208, 224, 240,
    256, 272, 288, 304, 321, 337, 353, 369, 384, 399, 414, 429, 444, 459, 473, 488, 502, 516, 529, 542,
    555, 568, 580, 592, 604, 616, 628, 639, 650, 661, 672, 683, 693, 704, 714, 724, 734, 744, 753, 761,
    770, 779, 787, 796, 804, 811, 819, 826, 833, 840, 846, 853, 859, 865, 871, 877, 883, 888, 893, 898,
    903, 908, 913, 917, 921, 925, 929, 933, 937, 940, 944, 947, 950, 953, 955, 958, 961, 963, 966, 968,
};
