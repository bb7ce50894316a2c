// Stand-in enrollment and verification workers: they run only the capture
// cycle (start command, 1 s reads, image into the ring, slot consumed) until
// stopped, so the sensor protocol can be exercised before the real workers
// exist. Removed when the real workers are built.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "log.h"
#include "operations.h"
#include "veko2547_drv.h"

namespace {

constexpr int kStopWaits = 150;
constexpr useconds_t kStopWaitUs = 50000;

std::atomic<int32_t> s_exit{0};
std::atomic<bool> s_running{false};

void *captureWorker(void *arg) {
    CaptureMode mode = static_cast<CaptureMode>(reinterpret_cast<intptr_t>(arg));
    int rc = 0;
    while ((rc = vkCaptureImage(mode, s_exit)) == 0) {
        getCapture_Image();
        freeCapture_Image();
        _vklog("capture stored mode=%d", static_cast<int>(mode));
        stopfp();
    }
    memset(g_imgbuf, 0, sizeof g_imgbuf);
    _vklog("capture thread exit %x", static_cast<unsigned>(rc));
    s_running = false;
    return nullptr;
}

// Stops the running worker, waiting for it at most 7.5 s. Returns the number
// of waits.
int stopWorker() {
    s_exit = 1;
    vkCaptureInterrupt();
    int waits = 0;
    while (s_running && waits < kStopWaits) {
        usleep(kStopWaitUs);
        ++waits;
    }
    return waits;
}

int startWorker(CaptureMode mode) {
    // Two workers would share the ring and the transport.
    if (s_running) stopWorker();
    if (s_running) return -2;
    initCapture_Image();
    s_exit = 0;
    s_running = true;
    pthread_t thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&thread, &attr, captureWorker, reinterpret_cast<void *>(static_cast<intptr_t>(mode)));
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        s_running = false;
        _vklogstr("CreateThread err");
        return -2;
    }
    return 0;
}

}  // namespace

int vkEnrollFp(const char *, const char *) { return startWorker(kCaptureEnroll); }

int vkStopEnroll() {
    _vklog("<<vkStopEnroll %d\n", stopWorker());
    return 0;
}

int vkVerifyFp(const char *) { return startWorker(kCaptureVerify); }

int vkStopVerify() {
    _vklog("<<vkStopVerify %d", stopWorker());
    return 0;
}
