// Profile 2 matching: a probe touch against a gallery of islands. Each island
// is matched with the library's engine under the gallery rules
// (match_rules.h); the best island decides the score.
#ifndef QV_GALLERY_MATCH_H
#define QV_GALLERY_MATCH_H

#include <cstdint>

// Score of probe (a profile 2 template; its first island is the touch)
// against the gallery `stored`: the best island score plus the second best,
// less the gallery offset, at least 0. -10000 when either template does not read, -1 for a scratch
// below the engine's need.
int32_t GalleryMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize);

struct GalleryView;
struct GalleryIsland;
// Engine scores of a touch against every island of a gallery: the best, the
// second best and the best island (-1 when none scored). best is
// kMatchDecodeFailed when a template does not decode.
struct IslandScores {
    int32_t best;
    int32_t second;
    int32_t bestIsland;
};
// Where the engine placed the touch on one island: its score; for a score
// above 0 the rotation of its best alignment (degrees 0..359, touch onto
// island) and where that alignment moves the touch's centre, relative to the
// centre, in half pixels.
struct IslandPose {
    int32_t score;
    int32_t rotation;
    int32_t shiftX2;
    int32_t shiftY2;
};
// poses: null, or gallery.count entries filled island by island.
IslandScores ScoreIslands(const GalleryView &gallery, const GalleryIsland &touch, uint8_t *scratch, int32_t scratchSize,
                          IslandPose *poses = nullptr);
// The gallery score of island scores: best plus second less the offset, at least 0.
int32_t GalleryScore(const IslandScores &s);

// What renewal needs of the last gallery match: both templates as they were,
// the score and the island that matched. Valid until the next match, merge,
// renewal or template creation.
struct GalleryMatchState {
    bool valid;
    int32_t score;
    int32_t island;
    const uint8_t *stored;  // QV_TEMPLATE_SIZE bytes, the library's copy
    const uint8_t *probe;
};
const GalleryMatchState &LastGalleryMatch();
// Keeps a match for renewal (copies both templates).
void RecordGalleryMatch(const uint8_t *stored, const uint8_t *probe, int32_t score, int32_t island);
void ForgetGalleryMatch();

// Subtracted from the sum of the two best island scores, so that a score
// above 45 (the service's threshold) lies clear of the highest impostor
// score measured: a sum of 102 over the impostor attempts of the real and
// SFinGe sets (several cuts, every sensor size; tools/fpeval), plus a margin
// of 10. kGalleryRenewScore: the score a match needs to be renewed into the
// gallery.
inline constexpr int32_t kGalleryScoreOffset = 67;
inline constexpr int32_t kGalleryRenewScore = 70;

#endif
