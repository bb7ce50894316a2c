// Neighbourhood primitives of the one-pixel skeleton (0 = black, 255 =
// white): endings, forks and stepping along a line. Every visit of the eight
// neighbours of a pixel uses the circular order of kNeighbourDy/kNeighbourDx.
#ifndef QV_SKELETON_WALK_H
#define QV_SKELETON_WALK_H

#include <cstdint>

inline constexpr uint8_t kBlack = 0;
inline constexpr uint8_t kWhite = 255;

// Eight neighbours in circular order, starting below-left (y grows downwards).
inline constexpr int8_t kNeighbourDy[8] = {1, 1, 1, 0, -1, -1, -1, 0};
inline constexpr int8_t kNeighbourDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1};

// Pixel offsets of the eight neighbours for row stride w.
struct NeighbourOffsets {
    int32_t at[8];
    explicit NeighbourOffsets(int32_t w) {
        for (int32_t k = 0; k < 8; ++k) at[k] = kNeighbourDy[k] * w + kNeighbourDx[k];
    }
};

// Sum of the absolute differences of circularly adjacent neighbours: 510 per
// black run around the pixel on a 0/255 image.
int32_t CrossingSum(const uint8_t *p, int32_t w);

// One black run around the pixel: a line ending.
bool IsEnd(const uint8_t *p, int32_t w);
// Three black runs around the pixel: a bifurcation.
bool IsFork(const uint8_t *p, int32_t w);

// Steps along a line: when exactly one black neighbour of cur other than prev
// exists, stores it in next and returns 0; otherwise returns 1 and leaves
// next alone.
int32_t GetNext(uint8_t *cur, const uint8_t *prev, uint8_t **next, int32_t w);

// Returns the number of black neighbours of cur; stores the neighbour in next
// only when there is exactly one.
int32_t GetNext2(uint8_t *cur, uint8_t **next, int32_t w);

// Walks up to `steps` steps along the line leaving `start`, which must have
// exactly one black neighbour (else returns 1). Stops early where the line
// ends; a fork is not entered (the walk reports the pixel before it). Stores
// the last position in *end and returns 0.
int32_t GetByDis(uint8_t *start, uint8_t **end, int32_t steps, int32_t w);

// Follows the three branches of a bifurcation for up to `steps` steps each
// and reports, for every branch that runs into a fork, the fork's position
// and the steps taken (0 for a fork right next to the bifurcation), in
// branch order. Returns the number of such branches; 0 unless the
// bifurcation has exactly three black neighbours.
int32_t vwn_GetForkByDis(uint8_t *fork, uint8_t **reached, int32_t steps, int32_t w, int32_t *lengths);

#endif
