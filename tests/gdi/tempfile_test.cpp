/*
 * tempfile_test.cpp: GetTempFileNameA: names are unique, carry the prefix and the number,
 * the file is created exclusively (never an existing file, never through a link), a given
 * number is used as it is without creating anything, and bad arguments fail.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gdi_test_util.h"

TEST(TempFileNames, NamesAreUniqueAndFilesAreCreated) {
    kgdi_test::TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 300; ++i) {
        char out[260];
        const UINT n = GetTempFileNameA(dir.path().c_str(), "rlex", 0, out);
        ASSERT_NE(n, 0u);
        const std::string name = out;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", n);
        EXPECT_EQ(name, dir.path() + "/rle" + hex + ".tmp");
        struct stat st {};
        ASSERT_EQ(lstat(out, &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0077, 0u);
        EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
    }
}

TEST(TempFileNames, ExistingFilesAndLinksAreNeverReused) {
    kgdi_test::TempDir dir;
    // Occupy a number, then ask for it to be skipped: with a link in the way as well.
    char first[260];
    const UINT n = GetTempFileNameA((dir.path() + "/").c_str(), "t", 0, first);
    ASSERT_NE(n, 0u);
    char again[260];
    ASSERT_EQ(GetTempFileNameA(dir.path().c_str(), "t", n, again),
              n);  // given number: no file made
    EXPECT_STREQ(again, first);
    char link_name[260];
    const UINT m = (n % 0xFFFF) + 1;
    ASSERT_EQ(GetTempFileNameA(dir.path().c_str(), "t", m, link_name), m);
    ASSERT_EQ(symlink("/tmp/kgdi-link-target-should-not-exist", link_name), 0);
    for (int i = 0; i < 50; ++i) {
        char out[260];
        const UINT k = GetTempFileNameA(dir.path().c_str(), "t", 0, out);
        ASSERT_NE(k, 0u);
        EXPECT_NE(std::string(out), std::string(first));
        EXPECT_NE(std::string(out), std::string(link_name));
    }
    struct stat st {};
    EXPECT_NE(stat("/tmp/kgdi-link-target-should-not-exist", &st), 0);
}

TEST(TempFileNames, BadArgumentsFail) {
    char out[260];
    EXPECT_EQ(GetTempFileNameA(nullptr, "rle", 0, out), 0u);
    EXPECT_EQ(GetTempFileNameA("/tmp", "rle", 0, nullptr), 0u);
    EXPECT_EQ(GetTempFileNameA("", "rle", 0, out), 0u);
    EXPECT_EQ(GetTempFileNameA("/nonexistent-dir-kgdi", "rle", 0, out), 0u);
    const std::string long_dir(300, 'a');
    EXPECT_EQ(GetTempFileNameA(long_dir.c_str(), "rle", 5, out), 0u);
    EXPECT_EQ(GetTempFileNameA("/tmp", nullptr, 7, out), 7u);
    EXPECT_STREQ(out, "/tmp/7.tmp");
}
