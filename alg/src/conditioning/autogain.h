// Automatic gain: proposes new sensor gain and offset settings from one image
// taken with the current ones. The occupied grey range of the inner image is
// compared with a target range; the gain is chosen to stretch it onto the
// target and the offset to move its centre there.
//
// Settings are three 32-bit words: a packed gain word (g0 bits 0-3, g1 bits
// 4-7, g2 bits 8-9, g3 bits 10-12), an offset around 512 and a word passed
// through unchanged. The raw variant works on 10-bit levels; the 8-bit variant
// maps its levels onto the same scale.
#ifndef QV_AUTOGAIN_H
#define QV_AUTOGAIN_H

#include <cstdint>

// Settings words exchanged with the host.
inline constexpr int32_t kSettingsWords = 3;
// Largest image either variant accepts (its smoothed copy's buffer).
inline constexpr int32_t kAutoGainMaxPixels = 25600;
// Smallest width and height that leave an inner region.
inline constexpr int32_t kAutoGainMinSide = 5;

// Gain word <-> the four gain indices g[0..3].
void mapGainDataToGain_16(int32_t word, int32_t *g);
int32_t mapGainToGainData_16(const int32_t *g);
void mapGainDataToGain(int32_t word, int32_t *g);
int32_t mapGaintoGainData(const int32_t *g);

// sum[i] = hist[0] + ... + hist[i] for levels entries.
void getSumHist_16(const int16_t *hist, int16_t *sum, int32_t levels);
void getSumHist(const int16_t *hist, int16_t *sum, int32_t levels);

// First index whose table entry is at least value, else n - 1.
int32_t findIndexByDayu_16(const int16_t *table, int32_t n, int32_t value);
int32_t findIndexByDayu(const int16_t *table, int32_t n, int32_t value);

// Histogram of the image without a border of h / n rows and w / n columns
// (1024 levels for the raw variant, 256 for the 8-bit one).
void getHist_16(const uint16_t *image, int32_t w, int32_t h, int32_t n, int16_t *hist);
void getHist(const uint8_t *image, int32_t w, int32_t h, int32_t n, int16_t *hist);

// The two variants on an image the entry point copied into tempbuf. The raw
// variant clamps the copy to 10 bits in place. Both return 1.
int32_t AutoGain16(uint16_t *image, int32_t w, int32_t h, const int32_t *settingsIn, int32_t *settingsOut);
int32_t AutoGain8(const uint8_t *image, int32_t w, int32_t h, const int32_t *settingsIn, int32_t *settingsOut);

#endif
