// Band-limited phase-only correlation of two phase records: the cross
// spectrum of unit phasors exp(i (a - b)) over the band, transformed back; a
// sharp peak where the two touches show the same ridges at some shift. The
// peak is given in permille of a perfect match (same image, no shift).
#ifndef QV_PHASE_CORRELATION_H
#define QV_PHASE_CORRELATION_H

#include <cstdint>

// Peak correlation of `stored` against two probe records at once (the two
// correlations ride on the real and imaginary parts of one inverse
// transform).
void CorrelationPeaks(const uint8_t *stored, const uint8_t *probeA, const uint8_t *probeB, int32_t &peakA,
                      int32_t &peakB);

// Best peak of `stored` over `count` probe records (rotations of one touch in
// order): every other rotation, then the two beside the best of those. Index
// of the best record in *bestRecord when not null.
int32_t BestCorrelationPeak(const uint8_t *stored, const uint8_t *probeRecords, int32_t count, int32_t *bestRecord);

// Cells of the frame the pose check searches on each side of the predicted
// shift.
inline constexpr int32_t kPoseWindow = 1;

// Peak correlation of `stored` against two probe records near one shift
// (cellX, cellY: frame cells, the top left of the 2 x 2 block where the peak
// is expected; wrapping), within kPoseWindow cells; the better of the two
// records.
int32_t PosePeak(const uint8_t *stored, const uint8_t *probeA, const uint8_t *probeB, int32_t cellX, int32_t cellY);

#endif
