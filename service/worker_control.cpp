#include "worker_control.h"

#include <unistd.h>

#include <cstring>

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

// A worker thread's body.
void *runPlan(void *arg) {
    CaptureWorker &worker = *static_cast<CaptureWorker *>(arg);
    const CapturePlan &plan = worker.plan;
    int last = 0;
    vkIdentify();
    while (plan.handle(vkCaptureStep(plan.mode, worker.exit, plan.labels, &last), last)) {
    }
    memset(g_imgbuf, 0, sizeof g_imgbuf);
    _vklog("%s thread exit %x", worker.name, static_cast<unsigned>(last));
    vkWorkerFinished(worker);
    return nullptr;
}

}  // namespace

bool vkWorkerStart(CaptureWorker &worker, const CapturePlan &plan) {
    joinIfEnded(g_enrollWorker);
    joinIfEnded(g_verifyWorker);
    if (anyRunning()) {
        _vklogstr("CreateThread err");
        return false;
    }
    worker.exit = 0;
    worker.plan = plan;
    vkUsbAllowTransfers();
    worker.running = true;
    if (pthread_create(&worker.thread, nullptr, runPlan, &worker) != 0) {
        worker.running = false;
        _vklogstr("CreateThread err");
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
