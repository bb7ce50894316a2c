// The configuration file's recognition setting: what counts as a setting,
// and files that are missing, odd or hostile fall back to profile 1.
#include "recognition_setting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

TEST(RecognitionSetting, ParsesOneProfileLineAndRefusesAnythingElse) {
    EXPECT_EQ(vkParseRecognitionProfile("profile=2\n"), 2);
    EXPECT_EQ(vkParseRecognitionProfile("profile=1"), 1);
    EXPECT_EQ(vkParseRecognitionProfile("profile=3\n"), 3);
    EXPECT_EQ(vkParseRecognitionProfile("# chosen by the admin\n\n  profile =\t2 \r\n"), 2);
    for (const char *bad : {"", "\n# nothing\n", "profile=4\n", "profile=0\n", "profile=\n", "profile=22\n",
                            "profile 2\n", "Profile=2\n", "profile=2\nprofile=1\n", "profile=2\ncolour=blue\n", "=2\n"})
        EXPECT_EQ(vkParseRecognitionProfile(bad), 0) << bad;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/vekocfgXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void write(const std::string &path, const char *text) {
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
}

TEST(RecognitionSetting, FilesThatAreNotAPlainSettingMeanProfileOne) {
    TempDir dir;
    const std::string file = dir.path + "/veko2547.conf";
    vkSetConfigPath(file.c_str());
    EXPECT_EQ(vkReadRecognitionProfile(), 1);  // missing
    write(file, "profile=2\n");
    EXPECT_EQ(vkReadRecognitionProfile(), 2);
    std::string big(5000, '#');
    write(file, ("profile=2\n" + big).c_str());
    EXPECT_EQ(vkReadRecognitionProfile(), 1);  // longer than any setting
    // A link is not followed, a directory or a FIFO gives no setting, and none hangs.
    const std::string real = dir.path + "/real.conf";
    write(real, "profile=2\n");
    std::remove(file.c_str());
    ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
    EXPECT_EQ(vkReadRecognitionProfile(), 1);
    std::remove(file.c_str());
    ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
    EXPECT_EQ(vkReadRecognitionProfile(), 1);
    rmdir(file.c_str());
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(vkReadRecognitionProfile(), 1);
}

}  // namespace
