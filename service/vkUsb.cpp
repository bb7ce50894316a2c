// USB transport: device search, open and claim, a short synchronous write,
// asynchronous bulk writes and reads with an event thread per transfer, and
// their cancellation.
#include "vkUsb.h"

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "log.h"

uint32_t ss_Vid = 0x2541;
uint32_t ss_Pid = 0x2547;
libusb_device_handle *m_dev_handle = nullptr;
int32_t m_fprint_usb_bInterfaceNumber = 0;
uint8_t m_EP_IN = 0x81;
uint8_t m_EP_OUT = 0x01;
int32_t m_S_LEN = 64;
int32_t m_msWait = 3000;
std::atomic<int32_t> m_do_exit{kUsbPending};

namespace {

// Full-speed and high-speed choices, taken from the first endpoint's packet size.
constexpr uint16_t kFullSpeedPacketSize = 64;
constexpr int32_t kFullSpeedInterface = 0;
constexpr uint8_t kFullSpeedEpIn = 0x81;
constexpr uint8_t kFullSpeedEpOut = 0x01;
constexpr int32_t kHighSpeedInterface = 1;
constexpr uint8_t kHighSpeedEpIn = 0x84;
constexpr uint8_t kHighSpeedEpOut = 0x03;
constexpr int32_t kHighSpeedChunk = 512;

constexpr unsigned kInterruptWriteTimeoutMs = 100;
constexpr unsigned kReadTimeoutUnitMs = 100;
constexpr int kMaxPortNumbers = 8;
constexpr const char *kIdentityPrefix = "VekoID.Usb.0x2541.0x2547";
// Interfaces whose kernel drivers are detached on open.
constexpr int kDetachInterfaces[] = {0, 1};
// How long a transfer whose event thread failed may take to finish its cancel.
constexpr int kDrainAttempts = 5;

sem_t m_exit_sem;
pthread_t m_poll_thread;
libusb_transfer *m_rx_transfer = nullptr;
// The write in flight, so that close can cancel it like a read.
libusb_transfer *s_tx_transfer = nullptr;

// Held for the whole of every asynchronous transfer and by open and close.
std::mutex s_transferLock;
// Guards m_dev_handle against open and close while vkUsbOnlyTx uses it.
std::mutex s_handleLock;
// Guards m_rx_transfer and s_tx_transfer so that close can cancel them.
std::mutex s_inflightLock;
// The default context is started once and kept for the life of the process.
std::mutex s_initLock;
bool s_libusbStarted = false;

// Set by vkUsbCancelTransfers, cleared by vkUsbAllowTransfers; read and
// written under s_inflightLock, so a transfer is either cancelled in flight
// or refused before it is submitted.
bool s_transfersCancelled = false;

// Set by the completion callbacks, so the submitting side knows whether the
// transfer still belongs to libusb.
std::atomic<bool> s_callbackRan{false};
// Set by the event thread when event handling failed with the transfer pending.
std::atomic<bool> s_eventsFailed{false};
std::atomic<int32_t> s_actualLength{0};
// user_data of a transfer that had to be left to libusb: its callback only
// frees it.
int s_abandonedMarker = 0;

// One libusb transfer, owned by the call that submits it: freed when that call
// returns, on every path, unless it had to be left to libusb unfinished; then
// its callback frees it, and nothing else touches it.
class OwnedTransfer {
  public:
    OwnedTransfer() : transfer_(libusb_alloc_transfer(0)) {}
    ~OwnedTransfer() {
        if (transfer_ != nullptr) libusb_free_transfer(transfer_);
    }
    OwnedTransfer(const OwnedTransfer &) = delete;
    OwnedTransfer &operator=(const OwnedTransfer &) = delete;

    libusb_transfer *get() const { return transfer_; }
    explicit operator bool() const { return transfer_ != nullptr; }

    // Gives the transfer up to libusb: its callback will free it.
    void leaveToCallback() {
        transfer_->user_data = &s_abandonedMarker;
        transfer_ = nullptr;
    }
    // In a callback: frees the transfer when it was given up on, and says so.
    static bool freeIfLeft(libusb_transfer *transfer) {
        if (transfer->user_data != &s_abandonedMarker) return false;
        libusb_free_transfer(transfer);
        return true;
    }

  private:
    libusb_transfer *transfer_;
};

bool startLibusb() {
    std::lock_guard<std::mutex> lock(s_initLock);
    if (!s_libusbStarted) s_libusbStarted = libusb_init(nullptr) == 0;
    return s_libusbStarted;
}

// Appends one identity and its NUL when it fits, leaving room for the final NUL.
void appendIdentity(char *list, size_t *used, const char *identity) {
    size_t need = strlen(identity) + 1;
    if (*used + need + 1 > static_cast<size_t>(kUsbListSize)) return;
    memcpy(list + *used, identity, need);
    *used += need;
}

// Builds the identity of `dev`; returns false when its port numbers cannot be
// read (the identity then has no port suffix).
bool buildIdentity(libusb_device *dev, char *out, size_t size) {
    snprintf(out, size, "%s", kIdentityPrefix);
    uint8_t ports[kMaxPortNumbers];
    int n = libusb_get_port_numbers(dev, ports, kMaxPortNumbers);
    if (n < 0) return false;
    for (int i = 0; i < n; ++i) {
        size_t len = strlen(out);
        snprintf(out + len, size - len, ".%02X", ports[i]);
    }
    return true;
}

// Reads the first endpoint's packet size from configuration 0 and takes the
// interface, endpoints and chunk length that go with it. Nothing changes when
// the descriptor cannot be read or has no endpoint.
void chooseEndpoints(libusb_device_handle *handle) {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_config_descriptor(libusb_get_device(handle), 0, &config) != 0) return;
    int packetSize = -1;
    for (int i = 0; i < config->bNumInterfaces && packetSize < 0; ++i) {
        const libusb_interface &iface = config->interface[i];
        for (int a = 0; a < iface.num_altsetting; ++a) {
            if (iface.altsetting[a].bNumEndpoints == 0) continue;
            packetSize = iface.altsetting[a].endpoint[0].wMaxPacketSize;
            break;
        }
    }
    libusb_free_config_descriptor(config);
    if (packetSize < 0) return;
    _vklog("\t\t  wMaxPacketSize:\t   %u\n", static_cast<unsigned>(packetSize));
    if (packetSize <= kFullSpeedPacketSize) {
        m_fprint_usb_bInterfaceNumber = kFullSpeedInterface;
        m_EP_IN = kFullSpeedEpIn;
        m_EP_OUT = kFullSpeedEpOut;
        m_S_LEN = kFullSpeedPacketSize;
    } else {
        m_fprint_usb_bInterfaceNumber = kHighSpeedInterface;
        m_EP_IN = kHighSpeedEpIn;
        m_EP_OUT = kHighSpeedEpOut;
        m_S_LEN = kHighSpeedChunk;
    }
}

// Close with both locks held by the caller.
int closeLocked(int release) {
    if (m_dev_handle == nullptr) return -1;
    if (release) {
        if (libusb_release_interface(m_dev_handle, m_fprint_usb_bInterfaceNumber) == 0)
            _vklog("**Released Interface!%d\n", m_fprint_usb_bInterfaceNumber);
        else
            _vklog("**Cannot Released Interface! %d\n", m_fprint_usb_bInterfaceNumber);
    }
    libusb_close(m_dev_handle);
    m_dev_handle = nullptr;
    return 0;
}

// Records the completion code and wakes the waiting caller.
void complete(libusb_transfer *transfer, int32_t code) {
    s_actualLength = transfer->actual_length;
    m_do_exit = code;
    sem_post(&m_exit_sem);
    // Last: the waiter destroys the semaphore only once it sees this.
    s_callbackRan = true;
}

void LIBUSB_CALL tx_cb(libusb_transfer *transfer) {
    if (OwnedTransfer::freeIfLeft(transfer)) return;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED && transfer->actual_length == transfer->length) {
        _vklogstr("tx_cb success");
        complete(transfer, kUsbDone);
    } else {
        _vklogstr("tx_cb failed");
        complete(transfer, kUsbWriteFailed);
    }
}

void LIBUSB_CALL callbackRevc(libusb_transfer *transfer) {
    if (OwnedTransfer::freeIfLeft(transfer)) return;
    int32_t code = kUsbReadError;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        _vklog("RX complete len=%d, actuallen=%d", transfer->length, transfer->actual_length);
        code = kUsbDone;
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        _vklogstr("rx cb time out");
        code = kUsbTimedOut;
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        _vklogstr("rx cb canceled");
        code = kUsbCancelled;
        break;
    default:
        _vklog("rx cb %x", static_cast<unsigned>(transfer->status));
        break;
    }
    complete(transfer, code);
}

void *poll_thread_main(void *) {
    _vklogstr("poll thread running");
    while (m_do_exit == kUsbPending) {
        timeval tv{1, 0};
        int r = libusb_handle_events_timeout(nullptr, &tv);
        if (r < 0) {
            _vklog("libusb_handle_events_timeout %d", r);
            int32_t expected = kUsbPending;
            if (m_do_exit.compare_exchange_strong(expected, kUsbWriteFailed)) {
                s_eventsFailed = true;
                sem_post(&m_exit_sem);
            }
            break;
        }
    }
    _vklog("poll thread shutting down %d", m_do_exit.load());
    return nullptr;
}

// Ends a transfer that never reached libusb (or whose submission failed):
// wakes and joins the event thread and destroys the semaphore.
void abortBeforeSubmit() {
    m_do_exit = kUsbAborted;
    sem_post(&m_exit_sem);
    libusb_interrupt_event_handler(nullptr);
    pthread_join(m_poll_thread, nullptr);
    sem_destroy(&m_exit_sem);
}

// After the event thread gave up with the transfer still submitted: cancel it
// and handle events here until its callback has run. A transfer that still
// does not finish is left to libusb; its callback will only free it.
void drainUnfinished(OwnedTransfer &transfer) {
    libusb_cancel_transfer(transfer.get());
    for (int i = 0; i < kDrainAttempts && !s_callbackRan; ++i) {
        timeval tv{1, 0};
        int completed = 0;
        libusb_handle_events_timeout_completed(nullptr, &tv, &completed);
    }
    if (s_callbackRan) return;
    transfer.leaveToCallback();
    _vklogstr("usb transfer left unfinished");
}

// Starts the semaphore and the event thread. Returns 0, -12 or -11.
int startTransferMachinery() {
    m_do_exit = kUsbPending;
    s_callbackRan = false;
    s_eventsFailed = false;
    s_actualLength = 0;
    if (sem_init(&m_exit_sem, 0, 0) != 0) {
        _vklogstr("failed to initialise semaphore error ");
        return kUsbErrSemaphore;
    }
    return kUsbOk;
}

int startPollThread() {
    if (pthread_create(&m_poll_thread, nullptr, poll_thread_main, nullptr) != 0) {
        _vklogstr("pthread_create fail");
        sem_destroy(&m_exit_sem);
        return kUsbErrThread;
    }
    return kUsbOk;
}

// Waits for the completion, then joins the event thread and destroys the
// semaphore. Returns the final completion code.
int32_t waitForCompletion(OwnedTransfer &transfer) {
    while (m_do_exit == kUsbPending) {
        if (sem_wait(&m_exit_sem) != 0 && errno != EINTR) break;
    }
    pthread_join(m_poll_thread, nullptr);
    if (s_eventsFailed) {
        drainUnfinished(transfer);
    } else {
        // The callback may have run on another thread's event handling (a
        // synchronous write) and be finishing there.
        while (!s_callbackRan) sched_yield();
    }
    sem_destroy(&m_exit_sem);
    return m_do_exit;
}

// Submits a filled transfer and waits for its end; while it runs it stands in
// `inflight`, where close can cancel it. Returns false when libusb refuses the
// submission (its error in *code; the event thread ended), else true with the
// completion code in *code.
bool runTransfer(OwnedTransfer &transfer, libusb_transfer *&inflight, int32_t *code) {
    int err;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(s_inflightLock);
        refused = s_transfersCancelled;
        err = refused ? 0 : libusb_submit_transfer(transfer.get());
        if (err == 0 && !refused) inflight = transfer.get();
    }
    if (refused) {
        // A stop came before the submission: end as a cancelled transfer would.
        abortBeforeSubmit();
        *code = kUsbCancelled;
        return true;
    }
    if (err != 0) {
        *code = err;
        abortBeforeSubmit();
        return false;
    }
    *code = waitForCompletion(transfer);
    std::lock_guard<std::mutex> lock(s_inflightLock);
    inflight = nullptr;
    return true;
}

}  // namespace

int ssUsblst(char *list, uint32_t vid, uint32_t pid) {
    if (vid == 0) vid = ss_Vid;
    if (pid == 0) pid = ss_Pid;
    if (!startLibusb()) {
        _vklogstr("failed to initialise libusb\n");
        return kUsbErrInit;
    }
    libusb_device **devices = nullptr;
    ssize_t count = libusb_get_device_list(nullptr, &devices);
    if (count <= 0) {
        if (count == 0) libusb_free_device_list(devices, 1);
        _vklogstr("get device error\n");
        return kUsbErrNoList;
    }
    _vklog("device number:cnt = %d\n", static_cast<int>(count));
    if (list != nullptr) list[0] = '\0';
    size_t used = 0;
    int found = 0;
    bool lastFailed = false;
    for (ssize_t i = 0; i < count; ++i) {
        bool isLast = i == count - 1;
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(devices[i], &desc) != 0) {
            _vklogstr("get device descriptor error\n");
            if (isLast) lastFailed = true;
            continue;
        }
        if (desc.idVendor != vid || desc.idProduct != pid) continue;
        ++found;
        _vklogstr("find the target device\n");
        char identity[64];
        if (!buildIdentity(devices[i], identity, sizeof identity) && isLast) lastFailed = true;
        if (list != nullptr) appendIdentity(list, &used, identity);
        ss_Vid = vid;
        ss_Pid = pid;
    }
    if (list != nullptr) list[used] = '\0';
    libusb_free_device_list(devices, 1);
    return lastFailed ? kUsbErrLastDevice : found;
}

int ssUsbOpen() {
    std::lock_guard<std::mutex> transferLock(s_transferLock);
    if (!startLibusb()) {
        _vklogstr("failed to initialise libusb\n");
        return kUsbErrInit;
    }
    {
        // A handle left open would leak; the caller normally closed it already.
        std::lock_guard<std::mutex> handleLock(s_handleLock);
        closeLocked(1);
    }
    libusb_device_handle *handle =
        libusb_open_device_with_vid_pid(nullptr, static_cast<uint16_t>(ss_Vid), static_cast<uint16_t>(ss_Pid));
    if (handle == nullptr) {
        _vklogstr("Cannot open device\n");
        return kUsbErrNoDevice;
    }
    chooseEndpoints(handle);
    _vklogstr("Device Opened\n");
    for (int iface : kDetachInterfaces) {
        if (libusb_kernel_driver_active(handle, iface) != 1) continue;
        _vklogstr("Kernel Driver Active");
        if (libusb_detach_kernel_driver(handle, iface) == 0) _vklogstr("Kernel Driver Detached!\n");
    }
    std::lock_guard<std::mutex> handleLock(s_handleLock);
    m_dev_handle = handle;
    if (libusb_claim_interface(handle, m_fprint_usb_bInterfaceNumber) != 0) {
        _vklogstr("**Cannot Claim Interface\n");
        closeLocked(1);
        return kUsbErrClaim;
    }
    _vklogstr("**claim_interface ok\n");
    return kUsbOk;
}

void vkUsbCancelTransfers() {
    std::lock_guard<std::mutex> inflight(s_inflightLock);
    s_transfersCancelled = true;
    // libusb_cancel_transfer only asks the kernel to give the transfer back; the
    // callback then runs on the transfer's event thread.
    if (m_rx_transfer != nullptr) libusb_cancel_transfer(m_rx_transfer);
    if (s_tx_transfer != nullptr) libusb_cancel_transfer(s_tx_transfer);
}

void vkUsbAllowTransfers() {
    std::lock_guard<std::mutex> inflight(s_inflightLock);
    s_transfersCancelled = false;
}

int ssUsbClose(int release) {
    {
        // A pending transfer would otherwise hold the transfer lock until its time-out.
        std::lock_guard<std::mutex> inflight(s_inflightLock);
        if (m_rx_transfer != nullptr) libusb_cancel_transfer(m_rx_transfer);
        if (s_tx_transfer != nullptr) libusb_cancel_transfer(s_tx_transfer);
    }
    std::lock_guard<std::mutex> transferLock(s_transferLock);
    std::lock_guard<std::mutex> handleLock(s_handleLock);
    return closeLocked(release);
}

int vkUsbOnlyTx(const uint8_t *data, int32_t len) {
    std::lock_guard<std::mutex> handleLock(s_handleLock);
    if (m_dev_handle == nullptr || data == nullptr || len <= 0) return 0;
    int transferred = 0;
    libusb_bulk_transfer(m_dev_handle, m_EP_OUT, const_cast<uint8_t *>(data), len, &transferred,
                         kInterruptWriteTimeoutMs);
    return 0;
}

int ssUsbTxAsyn(const uint8_t *data, int32_t size) {
    std::lock_guard<std::mutex> transferLock(s_transferLock);
    if (m_dev_handle == nullptr) return kUsbErrNoDevice;
    if (data == nullptr || size <= 0) return kUsbErrTransfer;
    int rc = startTransferMachinery();
    if (rc != kUsbOk) return rc;
    _vklogM("usb Tx async", data, static_cast<uint32_t>(size));
    rc = startPollThread();
    if (rc != kUsbOk) return rc;
    OwnedTransfer transfer;
    if (!transfer) {
        _vklogstr("alloc_transfer fail");
        abortBeforeSubmit();
        return kUsbErrNoDevice;
    }
    libusb_fill_bulk_transfer(transfer.get(), m_dev_handle, m_EP_OUT, const_cast<uint8_t *>(data), size, tx_cb, nullptr,
                              static_cast<unsigned>(m_msWait));
    int32_t code;
    if (!runTransfer(transfer, s_tx_transfer, &code)) {
        _vklogstr("usb tx fail");
        return kUsbErrSubmit;
    }
    if (code == kUsbDone) {
        _vklogstr("txd ok");
        return kUsbOk;
    }
    return kUsbErrTransfer;
}

int ssUsbRxdAsyn(uint8_t *buf, const int32_t *len, int32_t factor, int32_t *actual) {
    if (actual != nullptr) *actual = 0;
    std::lock_guard<std::mutex> transferLock(s_transferLock);
    if (m_dev_handle == nullptr) return kUsbErrNoDevice;
    if (buf == nullptr || len == nullptr) return kUsbErrTransfer;
    const int length = *len & 0xFFFF;
    int rc = startTransferMachinery();
    if (rc != kUsbOk) return rc;
    rc = startPollThread();
    if (rc != kUsbOk) return rc;
    OwnedTransfer transfer;
    if (!transfer) {
        _vklogstr("alloc_transfer fail");
        abortBeforeSubmit();
        return kUsbErrNoDevice;
    }
    unsigned timeoutMs = factor > 0 ? static_cast<unsigned>(factor) * kReadTimeoutUnitMs : 0;
    libusb_fill_bulk_transfer(transfer.get(), m_dev_handle, m_EP_IN, buf, length, callbackRevc, nullptr, timeoutMs);
    int32_t code;
    if (!runTransfer(transfer, m_rx_transfer, &code)) {
        _vklog("ss rxd err =%d\n", code);
        return kUsbErrSubmit;
    }
    _vklog("ss rxd =%d", code);
    switch (code) {
    case kUsbDone:
        if (actual != nullptr) *actual = s_actualLength;
        return kUsbOk;
    case kUsbTimedOut:
        return kUsbReadTimedOut;
    case kUsbCancelled:
        return kUsbReadCancelled;
    default:
        return kUsbErrTransfer;
    }
}
