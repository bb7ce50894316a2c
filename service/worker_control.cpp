#include "worker_control.h"

#include <unistd.h>

#include "log.h"
#include "operations.h"
#include "veko2547_drv.h"
#include "vkUsb.h"

CaptureWorker g_enrollWorker{"enroll"};
CaptureWorker g_verifyWorker{"verify"};

namespace {

// A stop cancels the transfer in flight, so a worker ends within about 100 ms
// (its end-of-capture write to a sensor that takes nothing times out); the
// bound only guards against one busy in the library, and keeps every reply
// within a second (then no new worker starts until it has ended).
constexpr int kStopWaitMs = 800;
constexpr int kStopPollMs = 5;

// Reclaims a thread that has ended.
void joinIfEnded(CaptureWorker &worker) {
    if (worker.joinable && !worker.running) {
        pthread_join(worker.thread, nullptr);
        worker.joinable = false;
    }
}

bool anyRunning() { return g_enrollWorker.running || g_verifyWorker.running; }

// Waits until no worker runs or the bound has passed. Returns the milliseconds waited.
int waitForWorkers() {
    int waited = 0;
    while (anyRunning() && waited < kStopWaitMs) {
        usleep(kStopPollMs * 1000);
        waited += kStopPollMs;
    }
    return waited;
}

}  // namespace

bool vkWorkerStart(CaptureWorker &worker, void *(*body)(void *)) {
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
    if (anyRunning()) return false;
    worker.exit = 0;
    vkUsbAllowTransfers();
    worker.running = true;
    if (pthread_create(&worker.thread, nullptr, body, nullptr) != 0) {
        worker.running = false;
        return false;
    }
    worker.joinable = true;
    return true;
}

void vkWorkerFinished(CaptureWorker &worker) {
    // A stopped capture leaves the sensor capturing: end it (100 ms at most).
    if (worker.exit) stopfp();
    worker.running = false;
}

int vkWorkerStop(CaptureWorker &worker) {
    worker.exit = 1;
    if (!worker.running) {
        joinIfEnded(worker);
        return 0;
    }
    vkCaptureCancel();
    const int waited = waitForWorkers();
    joinIfEnded(worker);
    return waited;
}

bool vkStopAllWorkers() {
    if (g_enrollWorker.running) _vklog("<<vkStopEnroll %d\n", vkWorkerStop(g_enrollWorker));
    if (g_verifyWorker.running) _vklog("<<vkStopVerify %d", vkWorkerStop(g_verifyWorker));
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
    return !anyRunning();
}

void vkStopWorkersAndClose() {
    for (CaptureWorker *worker : {&g_enrollWorker, &g_verifyWorker})
        if (worker->running) worker->exit = 1;
    if (anyRunning()) vkCaptureCancel();
    waitForWorkers();
    vkCloseDev();
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
}
