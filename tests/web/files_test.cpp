// files_test.cpp: the viewer's files are served from their folder only, with their media
// types, validators and cache rules; a matching If-None-Match (any tag of a list, weak or not)
// gives a 304.
#include "service/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support/files.h"
#include "test_support/temp_dir.h"

namespace {

class ViewerFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.file("viewer/assets/sub"));
        test_support::write_file(dir_.file("viewer/index.html"), "<!DOCTYPE html>");
        test_support::write_file(dir_.file("viewer/assets/app-1.js"), "let x;");
        test_support::write_file(dir_.file("viewer/.hidden"), "SECRET");
        test_support::write_file(dir_.file("secret.txt"), "SECRET");
        ASSERT_EQ(::symlink(dir_.file("secret.txt").c_str(), dir_.file("viewer/out.txt").c_str()),
                  0);
        std::string error;
        ASSERT_TRUE(files_.open(dir_.file("viewer"), error)) << error;
    }
    test_support::TempDir dir_{"kserve-files"};
    kserve::StaticFiles files_;
};

TEST_F(ViewerFiles, ThePageAndItsAssetsAreServedWithTypesAndCacheRules) {
    const auto page = files_.get("/", "");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body, "<!DOCTYPE html>");
    EXPECT_EQ(page->content_type, "text/html; charset=utf-8");
    EXPECT_EQ(page->cache_control, "no-cache");
    const auto script = files_.get("/assets/app-1.js", "");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->content_type, "text/javascript; charset=utf-8");
    EXPECT_EQ(script->cache_control, "public, max-age=31536000, immutable");
}

TEST_F(ViewerFiles, AMatchingIfNoneMatchGivesA304) {
    const std::string tag = files_.get("/index.html", "")->etag;
    for (const std::string& field : {tag, "\"x\", " + tag, "W/" + tag, std::string("*")}) {
        const auto again = files_.get("/index.html", field);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->status, 304) << field;
        EXPECT_EQ(again->body, "");
    }
    EXPECT_EQ(files_.get("/index.html", "\"x\"")->status, 200);
}

TEST_F(ViewerFiles, NothingOutsideTheFolderOrHiddenIsServed) {
    for (const char* path : {"/../secret.txt", "/assets/../../secret.txt", "/.hidden", "/out.txt",
                             "/assets", "/assets/sub", "/assets/sub/", "//etc/passwd",
                             "/assets\\app-1.js", "/missing.js", "relative"})
        EXPECT_FALSE(files_.get(path, "")) << path;
}

TEST(ContentTypes, FollowTheExtensionInAnyCase) {
    EXPECT_STREQ(kserve::content_type_of("a.CSS"), "text/css; charset=utf-8");
    EXPECT_STREQ(kserve::content_type_of("x.webmanifest"), "application/manifest+json");
    EXPECT_STREQ(kserve::content_type_of("noext"), "application/octet-stream");
    EXPECT_STREQ(kserve::content_type_of(".js"), "application/octet-stream");
}

}  // namespace
