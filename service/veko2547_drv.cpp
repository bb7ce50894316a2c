// Sensor device side: model table, detection, open and close, command
// frames, the two-part image read and the image ring.
#include "veko2547_drv.h"

#include <cstring>

#include "log.h"
#include "operations.h"
#include "vkUsb.h"

namespace {

constexpr int32_t kFingerFileLength = 28000;
constexpr const char *kVersion = "1.1.0.4";

// Read time-outs in units of 100 ms.
constexpr int32_t kIdentityReadFactor = 10;
constexpr int32_t kFirstPartFactor = 10;
constexpr int32_t kRestFactor = 20;
constexpr int32_t kIdentityReplyLength = 8;

// Takes a table row for the next open and for the workers.
void takeModel(const DeviceModel &model) {
    m_devType = model.devType;
    m_fileLen = model.fileLen;
    m_imgSize = model.imgSize;
    m_libSensorType = model.libSensorType;
}

// Walks the table with a 128-byte list. Returns the first positive count (and
// its row in *row), 0 when no row matches, or -1 when a search failed.
int searchModels(char *list, const DeviceModel **row) {
    char local[kUsbListSize];
    for (const DeviceModel *model = m_vp; model->devType != 0; ++model) {
        char *target = list;
        if (target == nullptr) {
            memset(local, 0, sizeof local);
            target = local;
        }
        int count = ssUsblst(target, model->vendorId, model->productId);
        if (count < 0) return -1;
        if (count > 0) {
            *row = model;
            return count;
        }
    }
    return 0;
}

}  // namespace

const DeviceModel m_vp[4] = {
    {3, 0x2541, 0x2549, 9856, 1, kFingerFileLength},
    {1, 0x2541, 0x2547, 13824, 5, kFingerFileLength},
    {2, 0x2541, 0x2548, 8024, 3, kFingerFileLength},
    {0, 0, 0, 0, 0, 0},
};

int32_t m_devType = 1;
int32_t m_imgSize = 13824;
int32_t m_fileLen = kFingerFileLength;
int32_t m_libSensorType = 5;
std::atomic<int32_t> m_bDevDetected{0};

const uint8_t m_get_id_cmd[kCommandLength] = {0xEA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xEA};
const uint8_t m_capture_end_cmd[kCommandLength] = {0xEA, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0xEA};
const uint8_t m_capture_beg_cmd[kCommandLength] = {0xEA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x03, 0xEA};
const uint8_t m_verify_beg_cmd[kCommandLength] = {0xEA, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0xEA};

uint8_t g_imgbuf[kImageBufferSize];
uint8_t g_img_arrays[kRingSlots][kImageBufferSize];
uint8_t g_img_status[kRingSlots] = {ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE,
                                    ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE, ST_IMG_FREE};
uint8_t g_img_ar_set_index = 0;
uint8_t g_img_ar_get_index = 0;

// ---- detection, open, close ----

int vkDetectDev(char *list) {
    const DeviceModel *row = nullptr;
    int count = searchModels(list, &row);
    if (count < 0) return -1;
    if (row != nullptr) takeModel(*row);
    ssUsbClose(1);
    _vklog("devNum=%d", count);
    return count;
}

int vkLstDev(int32_t *count) {
    const DeviceModel *row = nullptr;
    int found = searchModels(nullptr, &row);
    if (found < 0) return -1;
    *count = found;
    return 0;
}

int vkOpenDev() {
    vklogtm();
    _vklogstr(kVersion);
    initCapture_Image();
    char list[kUsbListSize];
    memset(list, 0, sizeof list);
    int count = vkDetectDev(list);
    if (count < 0) return -1;
    if (count == 0) return -3;
    if (ssUsbOpen() != 0) return -2;
    m_bDevDetected = 1;
    return 0;
}

void vkIdentify() {
    // The sensor answers the identity request with 8 bytes; the reply is not
    // needed, and neither step can fail the capture. Static, like every buffer
    // a transfer writes into, so even a transfer libusb never finishes has
    // somewhere to write.
    static uint8_t reply[kIdentityReplyLength];
    memset(reply, 0, sizeof reply);
    int32_t length = kIdentityReplyLength;
    if (ssUsbTxAsyn(m_get_id_cmd, kCommandLength) == 0) ssUsbRxdAsyn(reply, &length, kIdentityReadFactor);
}

void vkCloseDev() {
    ssUsbClose(1);
    m_bDevDetected = 0;
}

// ---- image ring ----

void initCapture_Image() {
    g_img_ar_set_index = 0;
    g_img_ar_get_index = 0;
    memset(g_img_status, ST_IMG_FREE, sizeof g_img_status);
    _vklog("%s g_img_ar_set_index = %d ----------------------\n", "initCapture_Image", 0);
}

void setCapture_Image() {
    uint8_t index = g_img_ar_set_index;
    if (g_img_status[index] != ST_IMG_FREE)
        _vklog("g_img_ar_set_index =%d data is override,status =%d\n", index, g_img_status[index]);
    memcpy(g_img_arrays[index], g_imgbuf, kImageBufferSize);
    g_img_status[index] = ST_IMG_RECV;
    _vklog("%s g_img_ar_set_index = %d ----------------------\n", "setCapture_Image", index);
    g_img_ar_set_index = static_cast<uint8_t>((index + 1) % kRingSlots);
}

uint8_t *getCapture_Image() {
    uint8_t index = g_img_ar_get_index;
    if (g_img_status[index] != ST_IMG_RECV) _vklog("g_img_ar_get_index =%d data is NOT ST_IMG_RECV\n", index);
    return g_img_arrays[index];
}

void freeCapture_Image() {
    g_img_status[g_img_ar_get_index] = ST_IMG_FREE;
    g_img_ar_get_index = static_cast<uint8_t>((g_img_ar_get_index + 1) % kRingSlots);
}

// ---- capture cycle ----

void stopfp() { vkUsbOnlyTx(m_capture_end_cmd, kCommandLength); }

void vkCaptureCancel() { vkUsbCancelTransfers(); }

int vkCaptureStart(CaptureMode mode) {
    return ssUsbTxAsyn(mode == kCaptureEnroll ? m_capture_beg_cmd : m_verify_beg_cmd, kCommandLength);
}

int vkCaptureReadFirst() {
    int32_t length = m_S_LEN;
    int32_t arrived = 0;
    int rc = ssUsbRxdAsyn(g_imgbuf, &length, kFirstPartFactor, &arrived);
    if (rc == 0 && arrived != length) return kCaptureShort;
    return rc;
}

int vkCaptureReadRest() {
    int32_t length = m_imgSize - m_S_LEN;
    if (length <= 0 || m_imgSize > kImageBufferSize) return kCaptureShort;
    int32_t arrived = 0;
    int rc = ssUsbRxdAsyn(g_imgbuf + m_S_LEN, &length, kRestFactor, &arrived);
    if (rc == 0 && arrived != length) return kCaptureShort;
    return rc;
}

void vkCaptureStore() {
    stopfp();
    setCapture_Image();
}

CaptureOutcome vkCaptureStep(CaptureMode mode, const std::atomic<int32_t> &stop, const CaptureLabels &labels,
                             int *last) {
    *last = vkCaptureStart(mode);
    // Closing the sensor to stop the worker also makes the start fail.
    if (*last != 0) return stop ? CaptureOutcome::kStopped : CaptureOutcome::kSensorFailed;
    for (int timeouts = 0;;) {
        *last = vkCaptureReadFirst();
        if (stop) return CaptureOutcome::kStopped;
        if (*last == kUsbReadTimedOut) {
            _vklog("%s loop %d", labels.timeoutName, timeouts);
            if (++timeouts < kTimeoutsBeforeRestart) continue;
            return CaptureOutcome::kTimedOut;
        }
        if (*last == kUsbReadCancelled) return CaptureOutcome::kCancelled;
        if (*last != 0) return CaptureOutcome::kTimedOut;
        *last = vkCaptureReadRest();
        _vklog("%s 2nd %d", labels.restName, *last);
        if (*last == 0) return CaptureOutcome::kCaptured;
        if (stop) return CaptureOutcome::kStopped;
        return *last == kUsbReadCancelled ? CaptureOutcome::kCancelled : CaptureOutcome::kTimedOut;
    }
}

int vkCaptureImage(CaptureMode mode, const std::atomic<int32_t> &stopFlag) {
    static constexpr CaptureLabels kLabels{"capture", "capture"};
    for (;;) {
        if (stopFlag) return kCaptureStopped;
        int last = 0;
        switch (vkCaptureStep(mode, stopFlag, kLabels, &last)) {
        case CaptureOutcome::kCaptured:
            vkCaptureStore();
            return 0;
        case CaptureOutcome::kStopped:
            return kCaptureStopped;
        case CaptureOutcome::kCancelled:
            return kUsbReadCancelled;
        case CaptureOutcome::kSensorFailed:
            return last;
        case CaptureOutcome::kTimedOut:
            if (last == kUsbErrNoDevice) return last;
            break;
        }
        stopfp();
    }
}
