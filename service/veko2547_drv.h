// Sensor device side: the supported models, detection, open and close with
// the identity exchange, the 8-byte command frames, the two-part image read
// and the ring of received images.
//
// Capture cycle, as a worker runs it (one worker at a time, on its own
// thread):
//
//   initCapture_Image();                       // before the worker starts
//   vkCaptureStart(kCaptureEnroll);            // start command
//   vkCaptureReadFirst();                      // 1 s; 7 = no finger yet, repeat
//   vkCaptureReadRest();                       // 2 s; 0 = whole image in g_imgbuf
//   vkCaptureStore();                          // end command, image into the ring
//   uint8_t *raw = getCapture_Image();         // m_imgSize bytes of the model
//   ... turn raw into a template ...
//   freeCapture_Image();
//   stopfp();                                  // end command before restarting
//
// vkCaptureStep runs one capture and says how it ended (CaptureOutcome); the
// workers dispatch on it. vkCaptureImage runs captures up to a stored image. A stop operation sets
// its flag and calls vkCaptureCancel, which cancels the transfer in flight
// (and refuses the next one), so the worker sees the flag at once even when
// the sensor takes nothing.
//
// The bus thread only opens and closes the sensor; every transfer, the
// identity exchange after an open included, runs on the worker.
#pragma once

#include <atomic>
#include <cstdint>

// One row of the table of supported models.
struct DeviceModel {
    int32_t devType;  // 1, 2, 3; 0 ends the table
    uint16_t vendorId;
    uint16_t productId;
    int32_t imgSize;        // raw image length in bytes
    int32_t libSensorType;  // sensor type given to the library
    int32_t fileLen;        // length of a finger file
};

// Rows in search order: 0x2549, 0x2547, 0x2548, then an all-zero row.
extern const DeviceModel m_vp[4];

// Taken from the detected row; before any detection they hold row 1 (0x2547).
extern int32_t m_devType;
extern int32_t m_imgSize;
extern int32_t m_fileLen;
extern int32_t m_libSensorType;
// 1 while a sensor is open through vkOpenDev.
extern std::atomic<int32_t> m_bDevDetected;

inline constexpr int kCommandLength = 8;
extern const uint8_t m_get_id_cmd[kCommandLength];
extern const uint8_t m_capture_end_cmd[kCommandLength];
extern const uint8_t m_capture_beg_cmd[kCommandLength];
extern const uint8_t m_verify_beg_cmd[kCommandLength];

// Image buffers: the image being received and the ring of received images.
inline constexpr int kImageBufferSize = 13824;  // the largest raw image
inline constexpr int kRingSlots = 10;
inline constexpr uint8_t ST_IMG_FREE = 1;
inline constexpr uint8_t ST_IMG_RECV = 2;
extern uint8_t g_imgbuf[kImageBufferSize];
extern uint8_t g_img_arrays[kRingSlots][kImageBufferSize];
extern uint8_t g_img_status[kRingSlots];
extern uint8_t g_img_ar_set_index;
extern uint8_t g_img_ar_get_index;

// Detects the first supported model in table order and takes its row; closes
// any open sensor. `list` (at least 128 bytes, or null) receives the
// identities. Returns the number of sensors of that model, or -1 when the USB
// search failed.
int vkDetectDev(char *list);

// vkOpenDev, vkCloseDev and vkLstDev are declared in operations.h.

// Ring: reset (both indices 0, every slot free), store g_imgbuf in the next
// slot (overwriting with a log line when it is still occupied), and consume
// the slot at the get index.
void initCapture_Image();
void setCapture_Image();
uint8_t *getCapture_Image();  // logs when the slot holds no received image
void freeCapture_Image();     // marks it free and advances the get index

// Writes the end-of-capture command with a synchronous write (100 ms at most).
void stopfp();

enum CaptureMode { kCaptureEnroll, kCaptureVerify };

// Results of the capture cycle beyond the transport's own codes.
inline constexpr int kCaptureShort = -21;    // fewer bytes arrived than the part needs
inline constexpr int kCaptureStopped = -30;  // the stop flag was seen

// Writes the start command of `mode`. Returns the transport's write result.
int vkCaptureStart(CaptureMode mode);
// Reads the first m_S_LEN bytes into g_imgbuf with a 1 s time-out.
// 0: the first part arrived; 7: no finger yet; kCaptureShort: a reply that is
// not an image (for example a late identity reply); otherwise
// the transport's result.
int vkCaptureReadFirst();
// Reads the remaining m_imgSize - m_S_LEN bytes with a 2 s time-out.
// 0: the whole image is in g_imgbuf; kCaptureShort or the transport's result.
int vkCaptureReadRest();
// After a complete image: the end command, then the image into the ring.
void vkCaptureStore();
// What one capture of a worker ended with.
enum class CaptureOutcome {
    kCaptured,      // a whole image is in g_imgbuf (not yet in the ring)
    kStopped,       // the worker's stop flag was seen
    kCancelled,     // a read was cancelled without a stop
    kSensorFailed,  // the start command could not be written
    kTimedOut,      // no image: kTimeoutsBeforeRestart time-outs in a row, a short or a failed read
};

// Reads that time out in a row before a capture is started again.
inline constexpr int kTimeoutsBeforeRestart = 4;

// The names in one worker's log lines of its captures: "<timeoutName> loop N"
// for a read that timed out, "<restName> 2nd R" for the second read's result.
struct CaptureLabels {
    const char *timeoutName;  // "enroll", "verf"
    const char *restName;     // "enroll", "verify"
};

// One capture: the start command of `mode`, the first part (read again after
// a time-out, up to kTimeoutsBeforeRestart reads), then the rest. The stop
// flag is looked at after every read and after a failed start. `last` gets the
// last transfer result (for the worker's last log line).
CaptureOutcome vkCaptureStep(CaptureMode mode, const std::atomic<int32_t> &stop, const CaptureLabels &labels,
                             int *last);
// Captures until one image is in the ring (0), the stop flag is set
// (kCaptureStopped), a read is cancelled (8) or the sensor cannot be written
// (the transport's result).
int vkCaptureImage(CaptureMode mode, const std::atomic<int32_t> &stopFlag);
// Cancels the transfer in flight and refuses later ones until the next worker
// starts. Never waits.
void vkCaptureCancel();
// The identity exchange a worker makes first after an open: request and its
// 8-byte reply (1 s), so that the reply is not taken for the first part of
// an image. Failures are ignored.
void vkIdentify();
