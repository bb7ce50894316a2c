// The finger store on real files in a temporary root: listing rules, name
// checks, crash-safe writes, and the management operations.
#include "finger_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "operations.h"

namespace fs = std::filesystem;

namespace {

class FingerStore : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/finger-store-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root = dir;
        vkSetStoreRoot((root + "/store").c_str());
        templ.resize(kFingerFileSize);
        for (size_t i = 0; i < templ.size(); ++i) templ[i] = static_cast<uint8_t>(i * 7);
    }
    void TearDown() override { fs::remove_all(root); }

    std::string user(const std::string &id) const { return root + "/store/" + id + "/"; }
    void touch(const std::string &path, size_t size = 10) { std::ofstream(path) << std::string(size, 'x'); }
    std::vector<std::string> names(const char *id) {
        char list[kNameListSize] = {};
        int32_t count = -1;
        EXPECT_EQ(vkLstFp(id, list, &count), 0);
        std::vector<std::string> out;
        const char *p = list;
        for (int i = 0; i < count; ++i, p += strlen(p) + 1) out.emplace_back(p);
        return out;
    }

    std::string root;
    std::vector<uint8_t> templ;
};

TEST_F(FingerStore, SavingCreatesThePrivateUserDirectoryAndAWholeFile) {
    ASSERT_EQ(vkSaveFingerFile("alice", "thumb", templ.data()), 0);
    struct stat st {};
    ASSERT_EQ(stat(user("alice").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((user("alice") + "thumb.Data").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(static_cast<size_t>(st.st_size), kFingerFileSize);
    std::ifstream in(user("alice") + "thumb.Data", std::ios::binary);
    std::vector<uint8_t> back(kFingerFileSize);
    in.read(reinterpret_cast<char *>(back.data()), static_cast<std::streamsize>(back.size()));
    EXPECT_EQ(back, templ);
    // Only the finger file is left: no temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(user("alice")), fs::directory_iterator()), 1);
}

TEST_F(FingerStore, ReplacingKeepsTheOldFileWhenTheNewOneCannotBeWritten) {
    ASSERT_EQ(vkSaveFingerFile("bob", "index", templ.data()), 0);
    const std::string path = user("bob") + "index.Data";
    std::vector<uint8_t> renewed(kFingerFileSize, 0x5A);
    ASSERT_EQ(vkReplaceFile(path.c_str(), renewed.data(), renewed.size()), 0);
    EXPECT_EQ(fs::file_size(path), kFingerFileSize);
    // A target whose directory is gone cannot be written; nothing is created.
    EXPECT_EQ(vkReplaceFile((root + "/missing/x.Data").c_str(), renewed.data(), renewed.size()), -1);
    EXPECT_FALSE(fs::exists(root + "/missing"));
}

TEST_F(FingerStore, AWriteClearsTemporariesLeftByAKilledServiceOnly) {
    ASSERT_EQ(vkSaveFingerFile("carl", "thumb", templ.data()), 0);
    touch(user("carl") + ".finger.a1B2c3", 1000);
    touch(user("carl") + ".finger.zzzzzz", 0);
    touch(user("carl") + ".keep");
    touch(user("carl") + "finger.Data");
    ASSERT_EQ(vkSaveFingerFile("carl", "index", templ.data()), 0);
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(user("carl"))) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".keep", "finger.Data", "index.Data", "thumb.Data"}));
}

TEST_F(FingerStore, ListingSkipsHiddenShortForeignAndNonRegularEntries) {
    fs::create_directories(user("carol"));
    for (const char *name : {"a.Data", "b.Data", ".hidden.Data", "notes.txt", ".Data"}) touch(user("carol") + name);
    fs::create_directory(user("carol") + "c.Data");
    fs::create_symlink(user("carol") + "a.Data", user("carol") + "link.Data");
    auto listed = names("carol");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(getSubFile((root + "/store/").c_str(), nullptr, 0, 0), 1);  // one user directory
    EXPECT_EQ(getSubFile((root + "/none/").c_str(), nullptr, 0, 1), -100);
}

TEST_F(FingerStore, TenFingersWithLongestNamesListCompletely) {
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        std::string name(kMaxStoreNameLength, static_cast<char>('a' + i));
        ASSERT_TRUE(vkIsStoreName(name.c_str()));
        ASSERT_EQ(vkSaveFingerFile("dave", name.c_str(), templ.data()), 0);
        expected.push_back(name);
    }
    auto listed = names("dave");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
}

TEST_F(FingerStore, ListingStopsAtTheEndOfTheBuffer) {
    fs::create_directories(user("erin"));
    for (int i = 0; i < 40; ++i) touch(user("erin") + std::string(40, static_cast<char>('A' + i)) + ".Data");
    char list[100];
    memset(list, 0x7f, sizeof list);
    const int count = getSubFile(user("erin").c_str(), list, 90, 1);
    EXPECT_EQ(count, 1);  // names take 46 bytes with their NUL: a second one would need 92
    EXPECT_EQ(list[90], 0x7f);
}

TEST_F(FingerStore, DeleteRenameAndTheirRefusals) {
    ASSERT_EQ(vkSaveFingerFile("fred", "thumb", templ.data()), 0);
    ASSERT_EQ(vkSaveFingerFile("fred", "ring", templ.data()), 0);
    EXPECT_EQ(vkDelFp("nobody", "thumb"), -100);
    EXPECT_EQ(vkDelFp("fred", "pinky"), -1);
    EXPECT_EQ(vkDelFp("fred", "thumb.Data"), -1);  // the name, not the file name
    EXPECT_EQ(names("fred").size(), 2u);

    EXPECT_EQ(vkRenameFp("fred", "thumb", "ring"), -1);  // would overwrite another finger
    EXPECT_EQ(names("fred").size(), 2u);
    EXPECT_EQ(vkRenameFp("fred", "pinky", "little"), -1);
    EXPECT_EQ(vkRenameFp("nobody", "thumb", "x"), -100);
    EXPECT_EQ(vkRenameFp("fred", "thumb", "index"), 0);
    EXPECT_TRUE(fs::exists(user("fred") + "index.Data"));
    EXPECT_FALSE(fs::exists(user("fred") + "thumb.Data"));

    EXPECT_EQ(vkDelFp("fred", "index"), 0);
    EXPECT_EQ(names("fred"), std::vector<std::string>{"ring"});
    EXPECT_EQ(vkDelAllFp("fred"), 0);
    EXPECT_TRUE(names("fred").empty());
    EXPECT_TRUE(fs::is_directory(user("fred")));  // the user directory stays
    EXPECT_EQ(vkDelAllFp("fred"), -1);
    EXPECT_EQ(vkDelAllFp("nobody"), -100);
}

TEST(StoreNames, OnlyPlainPathComponentsAreAccepted) {
    for (const char *ok : {"alice", "1000", "left-thumb", "a.b", "Ünïcode"}) EXPECT_TRUE(vkIsStoreName(ok)) << ok;
    const std::string longest(58, 'x'), tooLong(59, 'x');
    EXPECT_TRUE(vkIsStoreName(longest.c_str()));
    for (const char *bad : {"", ".", "..", ".hidden", "a/b", "/", "../etc", "tab\there", "new\nline", "del\x7f"})
        EXPECT_FALSE(vkIsStoreName(bad)) << bad;
    EXPECT_FALSE(vkIsStoreName(tooLong.c_str()));
    EXPECT_FALSE(vkIsStoreName(nullptr));
}

}  // namespace
