// The diagnostic log: hex dump layout, and lines posted through the real queue
// and writer thread into a log file in a temporary directory.
#include "log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string dump(const char *label, const std::vector<uint8_t> &data, uint32_t size) {
    char out[kLogTextSize];
    memset(out, 'Z', sizeof out);
    vklogFormatHexDump(out, label, data.empty() ? nullptr : data.data(), size);
    return out;
}

std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i);
    return data;
}

TEST(HexDump, CommandFrameWithLabel) {
    std::vector<uint8_t> frame = {0xEA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x03, 0xEA};
    EXPECT_EQ(dump("usb Tx async", frame, 8), "[usb Tx async]\tsize:0008(H:0008)\r\nEA030000000003EA");
}

TEST(HexDump, NullLabelAndEmptyData) {
    EXPECT_EQ(dump(nullptr, {}, 0), "");
    EXPECT_EQ(dump("x", {}, 0), "[x]\tsize:0000(H:0000)");
}

TEST(HexDump, OddSizeEndsWithOneByte) { EXPECT_EQ(dump(nullptr, {0xAB, 0xCD, 0x0F}, 3), "\r\nABCD0F"); }

TEST(HexDump, ThirtyTwoBytesPerLineWithBlankAfterSixteen) {
    std::string expected = "\r\n000102030405060708090A0B0C0D0E0F 101112131415161718191A1B1C1D1E1F\r\n2021";
    EXPECT_EQ(dump(nullptr, counting(34), 34), expected);
}

TEST(HexDump, SizeFieldShowsLowSixteenBits) {
    EXPECT_EQ(dump("big", {}, 0x12345).substr(0, 24), "[big]\tsize:9029(H:2345)\n");
}

TEST(HexDump, LargeDataWarnsAndStaysWithinTheRecord) {
    std::string out = dump("rx", counting(300), 300);
    const std::string head = "[rx]\tsize:0300(H:012C)\nWARRYINT too SIZE, ONLY show 2.5K\r\n";
    ASSERT_EQ(out.substr(0, head.size()), head);
    EXPECT_LT(out.size(), static_cast<size_t>(kLogTextSize));
    // Whole pairs only, in order from the first byte.
    std::string hex;
    for (char c : out.substr(head.size()))
        if (c != '\r' && c != '\n' && c != ' ') hex += c;
    ASSERT_EQ(hex.size() % 4, 0u);
    ASSERT_GT(hex.size(), 400u);
    char expected[8];
    for (size_t i = 0; i < hex.size() / 2; ++i) {
        snprintf(expected, sizeof expected, "%02X", static_cast<unsigned>(i & 0xFF));
        ASSERT_EQ(hex.substr(2 * i, 2), expected) << i;
    }
}

TEST(HexDump, LongLabelIsCut) {
    std::string label(600, 'L');
    std::string out = dump(label.c_str(), counting(8), 8);
    EXPECT_EQ(out.size(), static_cast<size_t>(kLogTextSize - 1));
    EXPECT_EQ(out.substr(0, 2), "[L");
}

// One writer thread per process: the queue is created once for all tests.
class LogFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/veko-log-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        logPath_ = dir_ + "/service.log";
        flagPath_ = dir_ + "/flag.conf";
        setFlag(true);
        vklogSetPaths(logPath_.c_str(), flagPath_.c_str());
        vklogExec();
        for (int i = 0; i < 200 && !vklogEnabled(); ++i) usleep(5000);
    }

    static void TearDownTestSuite() {
        vklogRemoveQueue();
        remove(logPath_.c_str());
        remove(flagPath_.c_str());
        rmdir(dir_.c_str());
    }

    void SetUp() override {
        remove(logPath_.c_str());
        setFlag(true);
        refreshFlag();
    }

    static void setFlag(bool on) {
        if (on)
            std::ofstream(flagPath_) << "";
        else
            remove(flagPath_.c_str());
    }

    // A date line is always posted and makes the writer read the flag again.
    static void refreshFlag() {
        vklogtm();
        vklogDrain(2000);
        remove(logPath_.c_str());
    }

    static std::vector<std::string> lines() {
        vklogDrain(2000);
        std::ifstream in(logPath_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    static std::string text(const std::string &line) {
        static const std::regex prefixed(R"(^\[\d{2}:\d{2}:\d{2}\](.*)$)");
        std::smatch m;
        return std::regex_match(line, m, prefixed) ? m[1].str() : "<no prefix: " + line + ">";
    }

    static std::string dir_, logPath_, flagPath_;
};

std::string LogFile::dir_, LogFile::logPath_, LogFile::flagPath_;

TEST_F(LogFile, LinesCarryTheTimePrefixAndTextIsVerbatim) {
    _vklogstr("100% %s %n done");
    _vklog("%d-%s", 7, "x");
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(text(got[0]), "100% %s %n done");
    EXPECT_EQ(text(got[1]), "7-x");
}

TEST_F(LogFile, DateLineHasNoPrefix) {
    vklogtm();
    auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})"))) << got[0];
}

TEST_F(LogFile, LongTextIsCutToTheRecord) {
    std::string longText(700, 'a');
    _vklogstr(longText.c_str());
    _vklog("%s", longText.c_str());
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size(), static_cast<size_t>(kLogTextSize - 1));
    EXPECT_EQ(got[1].size(), static_cast<size_t>(kLogTextSize - 1));
}

TEST_F(LogFile, DumpIsWrittenWithoutPrefix) {
    const uint8_t frame[] = {0xEA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x03, 0xEA};
    _vklogM("usb Tx async", frame, sizeof frame);
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "[usb Tx async]\tsize:0008(H:0008)\r");
    EXPECT_EQ(got[1], "EA030000000003EA");
}

TEST_F(LogFile, FlagGatesPostingButNotTheDateLine) {
    setFlag(false);
    refreshFlag();
    EXPECT_FALSE(vklogEnabled());
    _vklogstr("hidden");
    _vklog("hidden %d", 1);
    const uint8_t byte = 1;
    _vklogM("hidden", &byte, 1);
    vklogtm();
    auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].find("hidden"), std::string::npos);
    // Back on: the next date line lets lines through again.
    setFlag(true);
    refreshFlag();
    _vklogstr("visible");
    got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(text(got[0]), "visible");
}

void writeFileOfSize(const std::string &path, long size) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fseek(file, size - 1, SEEK_SET), 0);
    fputc('x', file);
    fclose(file);
}

long fileSize(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

TEST_F(LogFile, FileAtTheLimitIsAppendedTo) {
    writeFileOfSize(logPath_, kLogFileSizeLimit);
    _vklogstr("next");
    vklogDrain(2000);
    EXPECT_EQ(fileSize(logPath_), kLogFileSizeLimit + 15);  // "[hh:mm:ss]next\n"
}

TEST_F(LogFile, FileOverTheLimitIsStartedAgain) {
    writeFileOfSize(logPath_, kLogFileSizeLimit + 1);
    _vklogstr("next");
    auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(text(got[0]), "next");
}

}  // namespace

// Posting never waits for the writer: a burst larger than the queue holds
// drops lines, and the writer notes how many before its next line.
TEST_F(LogFile, AFullQueueDropsAndCountsLinesInsteadOfWaiting) {
    constexpr int kBurst = 3000;
    for (int i = 0; i < kBurst; ++i) _vklog("burst %d", i);
    // The writer may already have noted (and reset) the count: the notes in
    // the log say how many were dropped.
    vklogDrain(5000);
    _vklogstr("after the burst");
    vklogDrain(5000);
    int written = 0;
    int dropped = 0;
    static const std::regex note(R"(^\((\d+) log lines dropped: the log could not keep up\)$)");
    for (const std::string &line : lines()) {
        std::smatch m;
        if (std::regex_match(line, m, note)) dropped += std::stoi(m[1].str());
        if (text(line).rfind("burst ", 0) == 0) ++written;
    }
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(written + dropped, kBurst);
    EXPECT_EQ(text(lines().back()), "after the burst");
}
