// Template codec: the byte form of a FeatureSet and its mask, as the service
// stores it in finger files and hands it back for matching, merging and
// renewal, and the moves between the template frame and the working frame.
//
// Layout (all multi-byte integers big-endian):
//   0   1  format byte, 1
//   1   2  mask width in cells
//   3   2  mask height in cells
//   5   5  version code g_cAlgVerNoKey
//   10  1  dryWet, low byte
//   11  2  valleyKneeCount
//   13  2  kneeCount
//   15  1  minutiaCount
//   16     31-byte records: minutiae, ridge knee points, valley knee points
//          mask bitmap, one bit per cell, 1 = background, first cell in bit 7
//          tail byte repeating the last partial group of 8 cells, if any
#ifndef QV_TEMPLATE_CODEC_H
#define QV_TEMPLATE_CODEC_H

#include <cstdint>

#include "QVAlgDll.h"
#include "core/featureset.h"

inline constexpr int32_t kTemplateHeaderSize = 16;
inline constexpr int32_t kTemplatePointSize = 31;
inline constexpr uint8_t kTemplateFormat = 1;
// Largest count the one-byte minutia count of a template can carry.
inline constexpr uint32_t kMaxTemplateMinutiae = 255;
// Largest mask side the two-byte dimensions of a template can carry.
inline constexpr int32_t kMaxTemplateMaskSide = 65535;

// Results of the codec functions (DecodeTemplate returns a count on success).
inline constexpr int32_t kCodecOk = 1;
inline constexpr int32_t kCodecRefused = -1;

// Bytes of a template with the given number of points and mask size in cells,
// the tail byte included; -1 when a dimension is negative or the length does
// not fit 31 bits.
int64_t TemplateLength(uint32_t pointCount, int32_t width, int32_t height);

// Writes the template of set (template frame) with the width x height mask
// cells (row-major, 0 = finger) into out. Returns kCodecOk, or kCodecRefused
// without writing anything when the template is longer than outSize or the set
// cannot be represented (more than 255 minutiae, more than 800 points, a mask
// side outside 0..65535).
int32_t EncodeTemplate(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                       int32_t outSize);

// EncodeTemplate stamping the version code of `profile` instead of the
// library's own (profile 1 is EncodeTemplate itself).
int32_t EncodeTemplateAs(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                         int32_t outSize, int32_t profile);

// Reads the inSize template bytes into the slot's set and mask and moves them
// into the working frame. Returns the decoded minutiaCount, or -1 without
// touching the slot when the template is not usable: another version code,
// declared lengths beyond inSize, a working-frame mask beyond the FeatureMask
// capacity, a valley knee count that leaves no room for the minutiae, or a
// point angle above 359.
int32_t DecodeTemplate(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot);

// DecodeTemplate for a template of `profile`: its version code must be that
// profile's.
int32_t DecodeTemplateAs(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot, int32_t profile);

// DecodeTemplateAs into a set whose points from dirtyPoints on are known to
// be zero already (a slot decoded into again and again): only the points
// before that are cleared, so the set still ends in zero points.
int32_t DecodeTemplateOver(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot, int32_t profile,
                           uint32_t dirtyPoints);

// Length of the template in the first inSize bytes as its header declares it
// (the same count the decoder checks), or -1 when the header is not readable.
int64_t DeclaredTemplateLength(const uint8_t *templ, int32_t inSize);

// Template frame to working frame, in place: every point +32 pixels in x and
// y, an 8-cell background border around the mask. Returns kCodecOk, or
// kCodecRefused and changes nothing when the grown mask would not fit.
int32_t ExtendFeatures(const FeatureSlot *slot);

// Working frame to template frame, in place: every point -32 pixels in x and y
// (points of the border wrap below 0; templates keep the low 10 bits), the
// 8-cell border cut off the width x height cells, width and height 16 smaller.
// Returns kCodecOk, or kCodecRefused and changes nothing when the mask is
// smaller than its border.
int32_t CutBackFeatures(FeatureSet *set, uint8_t *cells, int32_t &width, int32_t &height);

#endif
