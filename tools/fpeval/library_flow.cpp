#include "library_flow.h"

#include <cstring>

#include "capture_format.h"
#include "matching/correlated_match.h"

namespace fpeval {

namespace {

constexpr int kNoContrast = -31;

int g_initialisedProduct = 0;

void initFor(uint16_t productId) {
    const capture::SensorFormat *format = capture::findSensorFormat(productId);
    if (format != nullptr) Quorvane_Init(format->librarySensorType);
    g_initialisedProduct = productId;
}

}  // namespace

int createTemplate(const Capture &capture, Template &out, bool firstStageOrVerify) {
    static capture::DecodedCapture decoded;
    if (!capture::decodeCapture(capture.productId, capture.raw.data(), capture.raw.size(), &decoded)) return 0;
    if (g_initialisedProduct != capture.productId) initFor(capture.productId);
    out.assign(QV_TEMPLATE_SIZE, 0);
    static uint8_t image[capture::kLargestPixelCount];
    std::memset(image, 0, sizeof image);
    int32_t info[QV_INFO_WORDS] = {};
    const auto w = static_cast<int16_t>(decoded.width);
    const auto h = static_cast<int16_t>(decoded.height);
    int16_t r;
    if (decoded.sixteenBit) {
        r = Quorvane_CreateTemplate16(decoded.pixels16, image, w, h, out.data(), info);
    } else {
        std::memcpy(image, decoded.pixels8, static_cast<size_t>(w) * h);
        r = Quorvane_CreateTemplate(image, w, h, out.data(), info);
    }
    if (r == kNoContrast && firstStageOrVerify) initFor(capture.productId);
    return r;
}

int enrolTouches(int profile) { return profile >= 2 ? QV_ENROL_TOUCHES_PROFILE2 : QV_ENROL_TOUCHES; }

EnrolmentResult enrol(const std::vector<Capture> &captures, int profile) {
    Quorvane_SetRecognitionProfile(profile);
    const int stages = enrolTouches(profile);
    EnrolmentResult result;
    std::vector<Template> slots(static_cast<size_t>(stages));
    Template lastMerge(QV_TEMPLATE_SIZE, 0), merged(QV_TEMPLATE_SIZE, 0);
    int stage = 1;
    for (const Capture &capture : captures) {
        ++result.capturesUsed;
        Template &slot = slots[stage - 1];
        if (createTemplate(capture, slot, stage == 1) != 1) {
            ++result.creationFailures;
            continue;
        }
        if (stage >= 2) {
            const Template &base = stage == 2 ? slots[0] : lastMerge;
            uint16_t overlap = 0, width = 0, height = 0;
            const int16_t m = Quorvane_MergeFeature(base.data(), slot.data(), merged.data(), &overlap, &width, &height);
            if (m != 0) {
                ++result.mergeRefusals;
                if (stage == 2) slots[0] = slot;  // the newest capture becomes the base
                continue;
            }
            lastMerge = merged;
        }
        if (stage == stages) {
            result.enrolled = true;
            result.merged = lastMerge;
            return result;
        }
        ++stage;
    }
    return result;
}

int matchScore(const Template &stored, const Template &live) { return Quorvane_MatchScore(stored.data(), live.data()); }

MatchParts lastMatchParts(int profile) {
    if (profile != 3) return MatchParts{};
    const FusionParts p = LastFusionParts();
    return MatchParts{p.islandSum, p.correlationPeak};
}

bool renewAfterMatch(Template &stored) {
    static uint8_t out[QV_TEMPLATE_SIZE];
    uint16_t width = 0, height = 0;
    if ((Quorvane_RenewFeature(out, nullptr, &width, &height) & 0xFFFF) != 0) return false;
    stored.assign(out, out + QV_TEMPLATE_SIZE);
    return true;
}

}  // namespace fpeval
