// The image ring (slot states, index wrap, overwrite and not-received log
// lines, whole-slot copies) and the transport's refusals without a device.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "log.h"
#include "veko2547_drv.h"
#include "vkUsb.h"

namespace {

int threadCount() {
    int n = 0;
    DIR *dir = opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n;
}

// The real log writer into a temporary file, so the ring's lines can be read.
class Ring : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/veko-ring-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        logPath_ = dir_ + "/service.log";
        flagPath_ = dir_ + "/flag.conf";
        std::ofstream(flagPath_) << "";
        vklogSetPaths(logPath_.c_str(), flagPath_.c_str());
        vklogExec();
        vklogtm();
        for (int i = 0; i < 200 && !vklogEnabled(); ++i) usleep(5000);
    }

    static void TearDownTestSuite() {
        vklogRemoveQueue();
        remove(logPath_.c_str());
        remove(flagPath_.c_str());
        rmdir(dir_.c_str());
    }

    void SetUp() override {
        initCapture_Image();
        vklogDrain(2000);
        remove(logPath_.c_str());
    }

    static std::string log() {
        vklogDrain(2000);
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Fills g_imgbuf with one value and stores it.
    static void store(uint8_t value) {
        memset(g_imgbuf, value, sizeof g_imgbuf);
        setCapture_Image();
    }

    static std::string dir_;
    static std::string logPath_;
    static std::string flagPath_;
};

std::string Ring::dir_;
std::string Ring::logPath_;
std::string Ring::flagPath_;

TEST_F(Ring, ResetFreesEverySlotAndLogsIndexZero) {
    store(1);
    store(2);
    getCapture_Image();
    freeCapture_Image();
    initCapture_Image();
    EXPECT_EQ(g_img_ar_set_index, 0);
    EXPECT_EQ(g_img_ar_get_index, 0);
    for (uint8_t status : g_img_status) EXPECT_EQ(status, ST_IMG_FREE);
    EXPECT_NE(log().find("initCapture_Image g_img_ar_set_index = 0 ----------------------\n"), std::string::npos);
}

TEST_F(Ring, StoreCopiesTheWholeBufferAndMarksTheSlotReceived) {
    memset(g_imgbuf, 0, sizeof g_imgbuf);
    g_imgbuf[0] = 0x11;
    g_imgbuf[kImageBufferSize - 1] = 0x22;
    setCapture_Image();
    EXPECT_EQ(g_img_status[0], ST_IMG_RECV);
    EXPECT_EQ(g_img_ar_set_index, 1);
    // Later changes of the receive buffer do not reach the stored image.
    memset(g_imgbuf, 0x77, sizeof g_imgbuf);
    uint8_t *slot = getCapture_Image();
    EXPECT_EQ(slot, g_img_arrays[0]);
    EXPECT_EQ(slot[0], 0x11);
    EXPECT_EQ(slot[kImageBufferSize - 1], 0x22);
    freeCapture_Image();
    EXPECT_EQ(g_img_status[0], ST_IMG_FREE);
    EXPECT_EQ(g_img_ar_get_index, 1);
    std::string text = log();
    EXPECT_NE(text.find("setCapture_Image g_img_ar_set_index = 0 ----------------------\n"), std::string::npos);
    EXPECT_EQ(text.find("override"), std::string::npos);
    EXPECT_EQ(text.find("NOT ST_IMG_RECV"), std::string::npos);
}

TEST_F(Ring, AlternatingStoreAndConsumeWrapsBothIndicesWithoutOverwrite) {
    for (int i = 0; i < 23; ++i) {
        store(static_cast<uint8_t>(i));
        EXPECT_EQ(getCapture_Image()[100], i);
        freeCapture_Image();
    }
    EXPECT_EQ(g_img_ar_set_index, 3);
    EXPECT_EQ(g_img_ar_get_index, 3);
    std::string text = log();
    EXPECT_NE(text.find("setCapture_Image g_img_ar_set_index = 9 -"), std::string::npos);
    EXPECT_EQ(text.find("override"), std::string::npos);
}

TEST_F(Ring, AnEleventhImageOverwritesTheOldestWithALogLine) {
    for (int i = 0; i < kRingSlots; ++i) store(static_cast<uint8_t>(i));
    EXPECT_EQ(g_img_ar_set_index, 0);
    EXPECT_EQ(log().find("override"), std::string::npos);
    store(0xAB);
    EXPECT_EQ(g_img_ar_set_index, 1);
    EXPECT_EQ(g_img_status[0], ST_IMG_RECV);
    EXPECT_EQ(g_img_arrays[0][0], 0xAB);
    EXPECT_EQ(g_img_arrays[1][0], 1);
    EXPECT_NE(log().find("g_img_ar_set_index =0 data is override,status =2\n"), std::string::npos);
}

TEST_F(Ring, ConsumingAnEmptySlotLogsAndStillAdvances) {
    uint8_t *slot = getCapture_Image();
    EXPECT_EQ(slot, g_img_arrays[0]);
    freeCapture_Image();
    EXPECT_EQ(g_img_ar_get_index, 1);
    EXPECT_NE(log().find("g_img_ar_get_index =0 data is NOT ST_IMG_RECV\n"), std::string::npos);
    // The get index wraps like the set index.
    for (int i = 1; i < kRingSlots; ++i) freeCapture_Image();
    EXPECT_EQ(g_img_ar_get_index, 0);
}

TEST(TransportWithoutDevice, TransfersFailAtOnceWithoutAThread) {
    ASSERT_EQ(m_dev_handle, nullptr);
    uint8_t buf[64] = {};
    int32_t len = sizeof buf;
    int32_t actual = 99;
    int before = threadCount();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ssUsbTxAsyn(m_capture_beg_cmd, kCommandLength), -1);
    EXPECT_EQ(ssUsbRxdAsyn(buf, &len, 10, &actual), -1);
    EXPECT_EQ(actual, 0);
    EXPECT_EQ(vkUsbOnlyTx(m_get_id_cmd, kCommandLength), 0);
    EXPECT_EQ(ssUsbClose(1), -1);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(50));
    EXPECT_EQ(threadCount(), before);
    EXPECT_EQ(len, 64);
}

// A failed start is the sensor's fault, unless a stop closed the sensor.
TEST(TransportWithoutDevice, TheCaptureCycleStopsAtTheFailedStart) {
    std::atomic<int32_t> stop{0};
    int last = 0;
    EXPECT_EQ(vkCaptureStep(kCaptureEnroll, stop, CaptureLabels{"enroll", "enroll"}, &last),
              CaptureOutcome::kSensorFailed);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(vkCaptureImage(kCaptureEnroll, stop), -1);
    stop = 1;
    EXPECT_EQ(vkCaptureStep(kCaptureVerify, stop, CaptureLabels{"verf", "verify"}, &last), CaptureOutcome::kStopped);
    EXPECT_EQ(vkCaptureImage(kCaptureVerify, stop), kCaptureStopped);
}

}  // namespace
