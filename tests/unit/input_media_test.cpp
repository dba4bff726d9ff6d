#include "input_media.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// A scratch directory that the test runs inside, so paths stay as typed.
class InputMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nimbra-input-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }
  static void write(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  // A file of `size` bytes that takes no disk space.
  static void sparse(const std::string& name, off_t size) {
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }

  fs::path dir_;
  fs::path previous_;
};

TEST_F(InputMedia, TypeComesFromTheExtensionAloneCaseInsensitively) {
  struct Case {
    const char* name;
    const char* mime;
  } cases[] = {
      {"Photo.PNG", "image/png"}, {"shot.JPEG", "image/jpeg"}, {"shot.jpeg", "image/jpeg"},
      {"a.jpg", "image/jpeg"},    {"scan.TIF", "image/tiff"},  {"scan.tiff", "image/tiff"},
      {"w.webp", "image/webp"},   {"g.gif", "image/gif"},      {"b.bmp", "image/bmp"},
      {"..png", "image/png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.name, "not really a picture");
    const auto url = file_to_data_url(c.name);
    ASSERT_TRUE(url.has_value()) << url.error().message;
    EXPECT_EQ(*url, std::string("data:") + c.mime + ";base64,bm90IHJlYWxseSBhIHBpY3R1cmU=");
  }
}

TEST_F(InputMedia, EncodesEveryByteWithPadding) {
  fs::create_directories("sub");
  write("sub/a.png", std::string("\x00\xff\xfe\x01", 4));
  EXPECT_EQ(file_to_data_url("sub/a.png").value(), "data:image/png;base64,AP/+AQ==");
  write("empty.png", "");
  EXPECT_EQ(file_to_data_url("empty.png").value(), "data:image/png;base64,");
}

TEST_F(InputMedia, RefusalsComeInTheirOrder) {
  fs::create_directories("folder.png");
  write(".png", "x");
  write("scan.", "x");
  write("archive.tar.gz", "x");
  write("notes", "x");
  write(std::string("odd.\xff"), "x");
  sparse("clip.mov", INPUT_CAP + 1);
  using Kind = CommandError::Kind;
  struct Case {
    std::string path;
    Kind kind;
    std::string message;
  } cases[] = {
      {"notes.txt", Kind::Runtime, "cannot read notes.txt: No such file or directory"},
      {"folder.png", Kind::Runtime, "cannot read folder.png: Is a directory"},
      {"clip.mov", Kind::Runtime, "clip.mov is over the 10 MB input cap"},
      {".png", Kind::Usage, ".png has no extension — cannot infer an image mime type"},
      {"notes", Kind::Usage, "notes has no extension — cannot infer an image mime type"},
      {"odd.\xff", Kind::Usage, "odd.\xff has no extension — cannot infer an image mime type"},
      {"scan.", Kind::Usage, "unsupported input type . — images: png, jpg, webp, gif, bmp, tiff"},
      {"archive.tar.gz", Kind::Usage,
       "unsupported input type .gz — images: png, jpg, webp, gif, bmp, tiff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto url = file_to_data_url(c.path);
    ASSERT_FALSE(url.has_value());
    EXPECT_EQ(url.error().kind, c.kind);
    EXPECT_EQ(url.error().message, c.message);
  }
}

TEST_F(InputMedia, CapIsInclusiveAndAHugeFileIsRefusedWithoutLoadingIt) {
  sparse("exact.png", INPUT_CAP);
  const auto url = file_to_data_url("exact.png");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->size(), std::string("data:image/png;base64,").size() + 4 * ((INPUT_CAP + 2) / 3));
  EXPECT_TRUE(
      url->ends_with("AAAA"
                     "AA=="));

  // 64 GiB: loading it whole would exhaust memory long before the check.
  sparse("huge.png", off_t{64} << 30);
  EXPECT_EQ(file_to_data_url("huge.png").error().message, "huge.png is over the 10 MB input cap");
}

TEST(IsHttpUrl, OnlyTheTwoExactSchemes) {
  struct Case {
    const char* text;
    bool url;
  } cases[] = {
      {"https://", true},           {"http://", true},    {"https://x/a.png", true},
      {"http:/x", false},           {"HTTPS://x", false}, {"ftp://x/a.png", false},
      {"example.com/a.png", false}, {"http:", false},     {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(is_http_url(c.text), c.url);
  }
}

TEST(ChoiceImageUrls, CollectsImagesOfEveryChoiceInOrder) {
  const Json answer = Json::parse(R"({"output":{"choices":[
      {"message":{"content":[{"image":"A"},{"text":"t"},{"image":"B"},{"image":7},"x",{"image":null}]}},
      {"message":{"content":{"image":"not a list"}}},
      {"nomessage":true},
      {"message":{"content":[{"image":"C"}]}}]}})");
  EXPECT_EQ(choice_image_urls(answer), (std::vector<std::string>{"A", "B", "C"}));

  for (const char* text : {R"({"output":{"results":[{"url":"A"}]}})",
                           R"({"output":{"choices":{}}})", R"({"output":[1]})", "[]", "null"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(choice_image_urls(Json::parse(text)).empty());
  }
}

TEST(JsonAt, WalksObjectsAndArraysAndNeverThrows) {
  const Json value = Json::parse(R"({"a":{"b":[10,{"c":"x"}]},"s":"str"})");
  EXPECT_EQ(*json_at(value, "/a/b/0"), 10);
  EXPECT_EQ(*json_string_at(value, "/a/b/1/c"), "x");
  EXPECT_EQ(json_at(value, ""), &value);
  for (const char* missing : {"/a/b/2", "/a/b/x", "/a/b/01", "/a/b/-", "/s/0", "/nope", "a"}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(json_at(value, missing), nullptr);
  }
  EXPECT_EQ(json_string_at(value, "/a"), nullptr);  // present, but not a string
  EXPECT_EQ(json_or_null(value, "/nope"), nullptr);
}

}  // namespace
