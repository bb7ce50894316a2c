#include "worker_control.h"

#include <unistd.h>

#include "log.h"
#include "operations.h"
#include "veko2547_drv.h"

CaptureWorker g_enrollWorker{"enroll"};
CaptureWorker g_verifyWorker{"verify"};

namespace {

constexpr int kStopWaits = 150;
// How long a release lets a worker end on its own before the sensor is closed
// under it (closing cancels a transfer the sensor does not answer).
constexpr int kReleaseGraceWaits = 10;
constexpr useconds_t kStopWaitUs = 50000;

// Reclaims a thread that has ended.
void joinIfEnded(CaptureWorker &worker) {
    if (worker.joinable && !worker.running) {
        pthread_join(worker.thread, nullptr);
        worker.joinable = false;
    }
}

bool anyRunning() { return g_enrollWorker.running || g_verifyWorker.running; }

}  // namespace

bool vkWorkerStart(CaptureWorker &worker, void *(*body)(void *)) {
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
    if (anyRunning()) return false;
    worker.exit = 0;
    worker.running = true;
    if (pthread_create(&worker.thread, nullptr, body, nullptr) != 0) {
        worker.running = false;
        return false;
    }
    worker.joinable = true;
    return true;
}

void vkWorkerFinished(CaptureWorker &worker) { worker.running = false; }

int vkWorkerStop(CaptureWorker &worker) {
    worker.exit = 1;
    if (!worker.running) {
        joinIfEnded(worker);
        return 0;
    }
    vkCaptureInterrupt();
    int waits = 0;
    while (worker.running && waits < kStopWaits) {
        usleep(kStopWaitUs);
        ++waits;
    }
    joinIfEnded(worker);
    return waits;
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
    if (anyRunning()) vkCaptureInterrupt();
    for (int i = 0; anyRunning() && i < kReleaseGraceWaits; ++i) usleep(kStopWaitUs);
    vkCloseDev();
    for (int i = 0; anyRunning() && i < kStopWaits; ++i) usleep(kStopWaitUs);
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
}
