/*
 * libQVAlgDll: fingerprint algorithms for the 0x2541 small-area sensors.
 *
 * Flat C interface: exported functions and exported variables. The library
 * keeps all its working memory in the static buffers declared below and is
 * not re-entrant; the host serialises every call. Call Quorvane_Init first.
 *
 * Images are row-major with stride = width: 8-bit images hold one byte per
 * pixel, raw images one unsigned 16-bit value carrying IMG_DATA_BITS bits.
 * A template is a buffer of at least QV_TEMPLATE_SIZE bytes; an info block is
 * an array of QV_INFO_WORDS 32-bit words.
 */
#ifndef QVALGDLL_H
#define QVALGDLL_H

#include <stdint.h>

#if defined(QV_BUILDING_LIBRARY)
#define QV_API __attribute__((visibility("default")))
#else
#define QV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes of the buffers exchanged with the host. */
#define QV_TEMPLATE_SIZE 28000
#define QV_INFO_WORDS 10
#define QV_VERSION_FIELD_SIZE 30
#define QV_VERSION_CODE_SIZE 5
#define QV_WORKSPACE_SIZE 500000
/* Touches an enrolment merges: ten under profile 1; a profile 2 or 3 gallery
 * holds one island per touch, sixteen. */
#define QV_ENROL_TOUCHES 10
#define QV_ENROL_TOUCHES_PROFILE2 16

/* ---- Configuration variables (set per sensor type by Quorvane_Init) ---- */
QV_API extern int32_t IMAGE_WIDTH_SRC;
QV_API extern int32_t IMAGE_HEIGHT_SRC;
QV_API extern int32_t IMAGE_WIDTH;
QV_API extern int32_t IMAGE_HEIGHT;
QV_API extern int32_t XCENTER;
QV_API extern int32_t YCENTER;
QV_API extern int32_t TOP_MIN_TRE;
QV_API extern int32_t BOTTOM_MAX_TRE;
QV_API extern int32_t LEFT_MIN_TRE;
QV_API extern int32_t RIGHT_MAX_TRE;
QV_API extern int32_t TB_MIN_TRE;
QV_API extern int32_t LR_MIN_TRE;
QV_API extern int32_t EATURE_RENEW_THRESHOLD;
QV_API extern int32_t EATURE_RENEW_THRESHOLD2;
QV_API extern int32_t g_nKneeNumTre1;
QV_API extern int32_t g_nKneeNumTre2;
QV_API extern int32_t IMG_DATA_BITS0;
QV_API extern int32_t IMG_DATA_BITS;
QV_API extern int32_t IMG_DATA_RANGE;
QV_API extern int32_t IMG_DATA_MAX;
QV_API extern int32_t IMG_DATA_WHITE;
QV_API extern int32_t IMG_DATA_WHITE2;
QV_API extern int32_t DATA16_NORMAL_TO8_MAX;
QV_API extern int32_t DATA16_NORMAL_TO8_MIN;
QV_API extern int32_t g_nCurPackage;

/* Variant selector: 1 unless the host assigns it before other calls. */
QV_API extern int32_t QV_CURRENT_VER;

/* Version string (NUL padded) and the 5-byte version code templates carry. */
QV_API extern char g_cAlgVerNo[QV_VERSION_FIELD_SIZE];
QV_API extern uint8_t g_cAlgVerNoKey[QV_VERSION_CODE_SIZE];

/* ---- Cross-call state words ---- */
QV_API extern int32_t g_bData16Bit;
QV_API extern int32_t g_nMean12Bit;
QV_API extern int32_t g_nRange;
QV_API extern uint8_t g_DryWetValue;
QV_API extern uint8_t g_bRenewFlag;
QV_API extern int32_t g_nFalseMinutiaNum;

/* ---- Working storage ---- */
struct FeatureSet;
struct FeatureMask;
struct PairList;

/* A feature set and its finger mask; both point into the match workspace. */
typedef struct FeatureSlot {
    struct FeatureSet *set;
    struct FeatureMask *mask;
} FeatureSlot;

QV_API extern uint8_t tempbuf[QV_WORKSPACE_SIZE];
QV_API extern uint8_t g_pImgbuf[73728];
QV_API extern int16_t g_fNormalize[30000];
QV_API extern int16_t g_fGaussSmooth[30000];
QV_API extern int16_t g_fRotImg[441];
QV_API extern uint8_t g_bRotImg[441];
QV_API extern int16_t g_fGradvec[722];
QV_API extern uint8_t nImageFilter[300];
QV_API extern int16_t nHist[65536];
QV_API extern int16_t iHist[1024];
QV_API extern int16_t iSumHist[1024];
QV_API extern int16_t g_iTempHistByGain[512];
QV_API extern int16_t g_tempBufHistSumHist[1536];
QV_API extern uint8_t g_tempBufByGain[25600];
QV_API extern uint16_t g_tempBufByGain16[25600];
QV_API extern FeatureSlot MFeatureWait;
QV_API extern FeatureSlot MFeatureTemp;
QV_API extern FeatureSlot MFeatureMerge;
QV_API extern int32_t resultMax[7];
QV_API extern struct PairList *pxlyMatchPtMax;

/* ---- Read-only tables ---- */
QV_API extern const int16_t g_nSinTable[91];
QV_API extern const int16_t g_nSqrt_Table[257];
QV_API extern const uint8_t g_nAtan_Table[257];
QV_API extern const uint8_t g_DisTbl[100];
QV_API extern const int16_t g_fGaussKernelTable[13];
QV_API extern const uint8_t g_erasetable[256];
QV_API extern const int16_t g_DSite9[18][9][2];
QV_API extern const int16_t g_DSite7[16][7][2];
QV_API extern const int16_t g_meanvec[722];
QV_API extern const int16_t g_eigspace[24 * 722];

/* Automatic gain tables (the raw-image variant keeps a private copy). Entries
 * past the used indices are 0. */
QV_API extern const int32_t g_ZenYiValues[16];
QV_API extern const int32_t g_ZenYiValues2[16];
QV_API extern const int32_t g_ZenYiValues3[16];
QV_API extern const int16_t aGA_g_StaticRatios[100];

/* ---- Configuration and version ---- */
QV_API int32_t Quorvane_Init(int32_t sensorType);
QV_API char *Quorvane_GetAlgVersion(char *out);
QV_API int32_t Quorvane_GetMaskSegmentThreshold(const int16_t *whiteLevel);
/* Recognition profile of the templates created from now on: 1 (the original
 * algorithm, the default), 2 (gallery of touches) or 3 (gallery of touches
 * with their phase spectra, scored by points and image correlation). Returns
 * 0, or -1 and changes nothing for another value. Quorvane_Init leaves it as
 * it is; matching, merging and renewal follow the stored template's profile. */
QV_API int32_t Quorvane_SetRecognitionProfile(int32_t profile);
/* Profile recorded in a template: 1, 2 or 3, or 0 when its version code is
 * none of them (or templ is null). */
QV_API int32_t Quorvane_TemplateProfile(const uint8_t *templ);

/* ---- Templates ---- */
QV_API int16_t Quorvane_CreateTemplate(uint8_t *image, int16_t width, int16_t height, uint8_t *templ, int32_t *info);
QV_API int16_t Quorvane_CreateTemplate16(uint16_t *raw, uint8_t *image, int16_t width, int16_t height, uint8_t *templ,
                                         int32_t *info);
QV_API int16_t Quorvane_MatchScore(const uint8_t *templA, const uint8_t *templB);
QV_API int16_t Quorvane_MergeFeature(const uint8_t *templA, const uint8_t *templB, uint8_t *merged, uint16_t *overlap,
                                     uint16_t *width, uint16_t *height);
QV_API int16_t Quorvane_RenewFeature(uint8_t *templ, void *unused, uint16_t *width, uint16_t *height);

/* ---- Raw image conditioning ---- */
QV_API int32_t Quorvane_Enhance16to8(uint16_t *raw, uint8_t *image, int16_t width, int16_t height);
QV_API int32_t Quorvane_Enhance16to8_EX(uint16_t *raw, uint8_t *image, int16_t width, int16_t height, int32_t *flags);
QV_API int32_t Quorvane_AutoGain(const uint8_t *image, int32_t width, int32_t height, int32_t *settingsIn,
                                 int32_t *settingsOut);
QV_API int32_t Quorvane_AutoGain16(const uint16_t *raw, int32_t width, int32_t height, int32_t *settingsIn,
                                   int32_t *settingsOut);

/* ---- Sensor image helpers ---- */
QV_API int32_t Quorvane_CalCentroid(const uint8_t *image, int32_t width, int32_t height, int32_t *column, int32_t *row);
QV_API int16_t Quorvane_DetectFinger(const uint8_t *image, int16_t width, int16_t height, uint8_t meanLow,
                                     uint8_t meanHigh);
QV_API int32_t Quorvane_SignalStrength(const uint8_t *image, int16_t width, int16_t height);
QV_API int32_t Quorvane_SignalStrength16(const uint16_t *raw, int16_t width, int16_t height);
QV_API int32_t Quorvane_GetMaskThresholdByBack16(const uint16_t *background, int32_t width, int32_t height);

/* ---- Fixed-result entry points kept for hosts of the wider interface ---- */
QV_API int32_t Quorvane_CutRefImg16(void *a, void *b, int16_t c, int16_t d);
QV_API int32_t Quorvane_CutRefImg8(void *a, void *b, void *c, int16_t d, int16_t e);
QV_API int32_t Quorvane_CutBlankImage(void *a, void *b, void *c, void *d, int16_t e, int16_t f);
QV_API int32_t Quorvane_CutBlankImage_EX(void *a, void *b, void *c, void *d, int16_t e, int16_t f, int16_t g,
                                         int16_t h);
QV_API int32_t Quorvane_CutBlankImage16(void *a, void *b, int16_t c, int16_t d);
QV_API int32_t Quorvane_Navi_CutBlankImage(void *a, void *b, void *c, void *d, int16_t e, int16_t f);
QV_API int32_t Quorvane_IsBlankImage(void *a, int32_t b, int32_t c);
QV_API int32_t Quorvane_FingerNavigation(void *a, int32_t b, int32_t c, int32_t d, void *e, int32_t f);
QV_API int32_t Quorvane_AgoCreateTemplate16(void *a, int16_t b, int16_t c, void *d, void *e);
QV_API int32_t Quorvane_CreatePermanentTemplate16(void *a, int16_t b, int16_t c, void *d);
QV_API void Quorvane_GetImage(void *a, void *b, void *c, int32_t d, int32_t e);

#ifdef __cplusplus
}
#endif

#endif /* QVALGDLL_H */
