// The library's whole working memory: fixed, exported buffers and the state
// words that carry results from one call to the next. Nothing is allocated at
// run time. Buffers that stages use as arrays of wider integers are aligned.
#include "QVAlgDll.h"

alignas(16) uint8_t tempbuf[QV_WORKSPACE_SIZE];
alignas(16) uint8_t g_pImgbuf[73728];
alignas(16) int16_t g_fNormalize[30000];
alignas(16) int16_t g_fGaussSmooth[30000];
alignas(16) int16_t g_fRotImg[441];
alignas(16) uint8_t g_bRotImg[441];
alignas(16) int16_t g_fGradvec[722];
alignas(16) uint8_t nImageFilter[300];
alignas(16) int16_t nHist[65536];
alignas(16) int16_t iHist[1024];
alignas(16) int16_t iSumHist[1024];
alignas(16) int16_t g_iTempHistByGain[512];
alignas(16) int16_t g_tempBufHistSumHist[1536];
alignas(16) uint8_t g_tempBufByGain[25600];
alignas(16) uint16_t g_tempBufByGain16[25600];

FeatureSlot MFeatureWait;
FeatureSlot MFeatureTemp;
FeatureSlot MFeatureMerge;
int32_t resultMax[7];
struct PairList *pxlyMatchPtMax;

int32_t g_bData16Bit = 0;
int32_t g_nMean12Bit = 3018;
int32_t g_nRange = 0;
uint8_t g_DryWetValue = 0;
uint8_t g_bRenewFlag = 0;
int32_t g_nFalseMinutiaNum = 0;
