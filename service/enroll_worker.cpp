// Enrolment: accepted captures of one finger merged into one template and
// saved as the user's finger file: ten under recognition profile 1, sixteen
// under profiles 2 and 3 (the configuration file chooses at each enrolment). A
// capture that gives no template, or whose merge the library refuses, is
// reported with EnrollRetry and taken again.
#include <cstring>

#include "QVAlgDll.h"
#include "finger_store.h"
#include "log.h"
#include "operations.h"
#include "recognition_setting.h"
#include "status_signals.h"
#include "template_creation.h"
#include "veko2547_drv.h"
#include "vkUsb.h"
#include "worker_control.h"
#include "worker_state.h"

namespace {

constexpr int kMaxStages = QV_ENROL_TOUCHES_PROFILE2;
constexpr int kMaxFingersPerUser = 10;

uint8_t m_opFeatureArr[kMaxStages][QV_TEMPLATE_SIZE];
int32_t m_opnCharNumArr[kMaxStages][QV_INFO_WORDS];
// Profile of the running enrolment and the captures it takes.
int m_enrolProfile = 1;
int m_enrolStages = QV_ENROL_TOUCHES;
uint8_t m_opFeatureLastMerge[QV_TEMPLATE_SIZE];
uint8_t m_opFeatureOut[QV_TEMPLATE_SIZE];

namespace enroll = vekobus::enroll;

void signal(int32_t code, int32_t arg) {
    vkSigEnrollStatus(m_usrname, static_cast<uint32_t>(code), static_cast<uint32_t>(arg));
}

// A stopped enrolment ends with its stop signal.
void stopped() {
    _vklogstr("enroll block");
    signal(enroll::kRefused, enroll::kStoppedOrNotStored);
}

// Merges the capture of stage n into the template so far. False when the
// library refused; at stage 2 the refused capture then becomes the base.
bool mergeStage(int n) {
    if (n == 1) return true;
    uint16_t overlap = 0, width = 0, height = 0;
    const uint8_t *base = n == 2 ? m_opFeatureArr[0] : m_opFeatureLastMerge;
    const int16_t rc = Quorvane_MergeFeature(base, m_opFeatureArr[n - 1], m_opFeatureOut, &overlap, &width, &height);
    _vklog("1----ret = %d\n", rc);
    if (rc != 0) {
        if (n == 2) std::memcpy(m_opFeatureArr[0], m_opFeatureArr[1], QV_TEMPLATE_SIZE);
        return false;
    }
    std::memcpy(m_opFeatureLastMerge, m_opFeatureOut, QV_TEMPLATE_SIZE);
    return true;
}

// Progress after accepted capture n, in tens of percent: n of ten, or spread
// over 10..90 % when the enrolment takes more captures.
uint32_t progressTens(int n) {
    if (m_enrolStages <= 10) return static_cast<uint32_t>(n);
    return static_cast<uint32_t>(1 + 8 * (n - 1) / (m_enrolStages - 2));
}

enum class Next { Restart, Finish };

// One received image at the current stage. Finish after the last.
Next acceptCapture(int &lastTransfer) {
    const int n = m_enrol_stage;
    uint8_t *raw = getCapture_Image();
    const int rc = CreateTemplateAs(m_enrolProfile, raw, m_opFeatureArr[n - 1], m_opnCharNumArr[n - 1]);
    freeCapture_Image();
    _vklog("CreateFingerPrintMinutiae ret=%d stage=%d", rc, n);
    // A touch that is not taken is told with its reason, so the person can
    // place the finger better; the stage stays.
    if (rc != 1) {
        vkSigEnrollRetry(m_usrname, vekobus::retry::kUnusable);
        return Next::Restart;
    }
    if (!mergeStage(n)) {
        vkSigEnrollRetry(m_usrname, vekobus::retry::kNoOverlap);
        return Next::Restart;
    }
    _vklog("stage=%d", n);
    if (n == m_enrolStages) {
        lastTransfer = 0;
        // A finger renamed onto this name during the enrolment keeps it: the
        // enrolment ends as "name exists", as it would have at its start.
        const int saved = SaveToMinutiaeFile();
        if (saved == 0)
            signal(enroll::kDone, 0);
        else
            signal(enroll::kRefused, saved == kStoreNameTaken ? enroll::kNameExists : enroll::kStoppedOrNotStored);
        return Next::Finish;
    }
    signal(enroll::kProgress, static_cast<int32_t>(progressTens(n)));
    m_enrol_stage = n + 1;
    return Next::Restart;
}

// One capture's outcome; false once the enrolment is over.
bool onCapture(CaptureOutcome outcome, int &lastTransfer) {
    switch (outcome) {
    case CaptureOutcome::kSensorFailed:
        _vklogstr("enroll tx fail");
        signal(enroll::kSensorFailed, 0);
        return false;
    case CaptureOutcome::kStopped:
        stopped();
        return false;
    case CaptureOutcome::kCaptured:
        vkCaptureStore();
        if (acceptCapture(lastTransfer) == Next::Finish) return false;
        break;
    case CaptureOutcome::kCancelled:
    case CaptureOutcome::kTimedOut:
        break;
    }
    // The capture is taken again, unless a stop came meanwhile.
    if (g_enrollWorker.exit) {
        stopped();
        return false;
    }
    stopfp();
    return true;
}

}  // namespace

int SaveToMinutiaeFile() { return vkSaveFingerFile(m_usrname, m_finger, m_opFeatureLastMerge); }

int vkEnrollFp(const char *id, const char *finger) {
    // One worker at a time: a running one ends with its own stop signal first.
    if (!vkStopAllWorkers()) return -2;
    m_enrol_stage = 1;
    initCapture_Image();
    snprintf(m_usrname, sizeof m_usrname, "%s", id);
    snprintf(m_finger, sizeof m_finger, "%s", finger);
    char list[kNameListSize] = {};
    int32_t count = 0;
    vkLstFp(id, list, &count);
    if (count > kMaxFingersPerUser - 1) {
        _vklogstr("finger num >10");
        signal(enroll::kRefused, enroll::kTooManyFingers);
        return 0;
    }
    const char *name = list;
    for (int i = 0; i < count; ++i, name += strlen(name) + 1) {
        if (strcmp(name, finger) == 0) {
            _vklogstr("finger exist");
            signal(enroll::kRefused, enroll::kNameExists);
            return 0;
        }
    }
    m_enrolProfile = vkReadRecognitionProfile();
    m_enrolStages = m_enrolProfile >= 2 ? QV_ENROL_TOUCHES_PROFILE2 : QV_ENROL_TOUCHES;
    _vklog("enroll profile %d, %d captures", m_enrolProfile, m_enrolStages);
    return vkWorkerStart(g_enrollWorker, CapturePlan{kCaptureEnroll, {"enroll", "enroll"}, onCapture}) ? 0 : -2;
}

int vkStopEnroll() {
    _vklog("<<vkStopEnroll %d\n", vkWorkerStop(g_enrollWorker));
    return 0;
}
