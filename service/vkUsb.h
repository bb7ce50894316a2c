// USB transport of the service: the only user of libusb-1.0.
//
// Finds sensors by vendor and product id, opens and claims one, picks the bulk
// endpoints and the chunk length from the device's first endpoint, and moves
// bytes: a short synchronous write (the worker's end-of-capture command), and
// asynchronous bulk writes and reads made blocking for the caller by a
// semaphore and a short-lived event thread.
//
// One asynchronous transfer is in flight at a time: ssUsbTxAsyn and
// ssUsbRxdAsyn take a transfer lock for their whole run, and ssUsbOpen and
// ssUsbClose take it too, so the device is never closed or replaced under a
// pending transfer. ssUsbClose first cancels a pending transfer so that it does
// not have to wait for its time-out; a stop cancels it the same way
// (vkUsbCancelTransfers). The bus thread never makes a transfer itself: it
// only opens, cancels and closes.
#pragma once

#include <libusb.h>

#include <atomic>
#include <cstdint>

// Ids used by the next open; the device search stores the ids it matched.
extern uint32_t ss_Vid;
extern uint32_t ss_Pid;

extern libusb_device_handle *m_dev_handle;
extern int32_t m_fprint_usb_bInterfaceNumber;
extern uint8_t m_EP_IN;
extern uint8_t m_EP_OUT;
// Chunk length: the first part of every image read, one packet long.
extern int32_t m_S_LEN;
// Time-out of asynchronous writes in milliseconds.
extern int32_t m_msWait;
// Completion code of the transfer in flight (see the kUsbDone... values).
extern std::atomic<int32_t> m_do_exit;

// Completion codes held in m_do_exit.
inline constexpr int32_t kUsbPending = 0;
inline constexpr int32_t kUsbAborted = 1;      // allocation or submission failed
inline constexpr int32_t kUsbWriteFailed = 2;  // short or failed write, or event handling failed
inline constexpr int32_t kUsbReadError = 4;    // read ended with another error status
inline constexpr int32_t kUsbTimedOut = 7;
inline constexpr int32_t kUsbCancelled = 8;
inline constexpr int32_t kUsbDone = 100;

// Results of the transport operations.
inline constexpr int kUsbOk = 0;
inline constexpr int kUsbErrNoDevice = -1;     // nothing open, or no transfer could be allocated
inline constexpr int kUsbErrSubmit = -2;       // submission failed
inline constexpr int kUsbErrInit = -3;         // the USB library did not start
inline constexpr int kUsbErrNoList = -4;       // no USB device listed
inline constexpr int kUsbErrClaim = -6;        // interface not claimed
inline constexpr int kUsbErrThread = -11;      // event thread not started
inline constexpr int kUsbErrSemaphore = -12;   // semaphore not initialised
inline constexpr int kUsbErrLastDevice = -13;  // the last listed device could not be read
inline constexpr int kUsbErrTransfer = -20;    // failed or short write, failed read
inline constexpr int kUsbReadTimedOut = 7;     // read: nothing arrived before the time-out
inline constexpr int kUsbReadCancelled = 8;    // read: cancelled

// Size of a caller's list buffer for ssUsblst (identities, each NUL-ended,
// and a final NUL).
inline constexpr int kUsbListSize = 128;

// Counts the attached devices with the given ids (0 = ss_Vid / ss_Pid). When
// `list` is not null it receives the identity string of each match
// ("VekoID.Usb.0x2541.0x2547" and ".%02X" per port number), each followed by
// a NUL, and a closing NUL; identities that do not fit are left out.
// Returns the count, -3, -4 or -13.
int ssUsblst(char *list, uint32_t vid, uint32_t pid);

// Opens the first device with ss_Vid / ss_Pid, chooses interface, endpoints
// and chunk length from its first endpoint's packet size, detaches kernel
// drivers from interfaces 0 and 1 and claims the chosen interface.
// Returns 0, -3, -1 or -6.
int ssUsbOpen();

// Cancels the asynchronous transfers in flight (both directions) and refuses
// every later one, as if it had been cancelled, until vkUsbAllowTransfers.
// Never waits: a stop on the bus thread calls it, and the worker that waits
// on the transfer sees it end at once (a read returns 8, a write -20).
void vkUsbCancelTransfers();
// Lets transfers run again; called before a worker starts.
void vkUsbAllowTransfers();

// Releases the interface and closes the device. Returns 0, or -1 when nothing
// is open. The service always passes 1.
int ssUsbClose(int release);

// One synchronous bulk write to m_EP_OUT with a 100 ms time-out; the outcome
// is not reported. Does nothing when no device is open.
int vkUsbOnlyTx(const uint8_t *data, int32_t len);

// Writes `size` bytes (above 0) asynchronously, time-out m_msWait.
// Returns 0 written; -20 failed or short; -1; -2; -11; -12.
int ssUsbTxAsyn(const uint8_t *data, int32_t size);

// Reads up to *len bytes (low 16 bits used) from m_EP_IN into `buf`, time-out
// `factor` x 100 ms. *len is not changed. When `actual` is not null it
// receives the number of bytes that arrived (0 unless the read completed), so
// a caller can tell a short read from a full one.
// Returns 0 completed (also when short); 7 timed out; 8 cancelled; -20 other
// failure; -1; -2; -11; -12.
int ssUsbRxdAsyn(uint8_t *buf, const int32_t *len, int32_t factor, int32_t *actual = nullptr);
