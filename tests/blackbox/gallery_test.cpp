// The gallery command: newest first, regular files only, the JSON form, and
// the empty and unreadable cases.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "harness.hpp"

namespace bb {
namespace {

class Gallery : public ::testing::Test {
 protected:
  [[nodiscard]] fs::path dir() const { return sb.home() / "Pictures" / "generated"; }
  Sandbox sb;
};

TEST_F(Gallery, AbsentGalleryIsEmpty) {
  const Result text = sb.run({"gallery"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "");
  const Result json = sb.run({"gallery", "extra", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out, "[]\n");
  EXPECT_FALSE(fs::exists(dir()));  // listing creates nothing
}

TEST_F(Gallery, NewestFirstRegularFilesOnly) {
  const auto now = fs::file_time_type::clock::now();
  struct File {
    const char* name;
    int age_s;
  } files[] = {{"nmb-image-1-0.png", 60}, {"vorl-clip.mp4", 1}, {"notes.txt", 30}};
  for (const auto& f : files) {
    const fs::path path = sb.write(fs::path("Pictures/generated") / f.name, "x");
    fs::last_write_time(path, now - std::chrono::seconds(f.age_s));
  }
  fs::create_directories(dir() / "nested");
  sb.write("Pictures/generated/nested/deep.png", "x");
  fs::create_symlink(dir() / "notes.txt", dir() / "link.png");
  fs::create_symlink("/nonexistent", dir() / "dangling.png");

  const std::string newest = (dir() / "vorl-clip.mp4").string();
  const std::string middle = (dir() / "notes.txt").string();
  const std::string oldest = (dir() / "nmb-image-1-0.png").string();
  const Result text = sb.run({"gallery"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, newest + "\n" + middle + "\n" + oldest + "\n");
  const Result json = sb.run({"gallery", "--json"});
  EXPECT_EQ(json.out, "[\"" + newest + "\",\"" + middle + "\",\"" + oldest + "\"]\n");
}

TEST_F(Gallery, HomeUnsetOrGalleryUnreadable) {
  sb.write("Pictures/generated", "a file where the directory should be");
  const Result unreadable = sb.run({"gallery"});
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.err, "orvik-nimbra: cannot read " + dir().string() + ": Not a directory\n");
  sb.env.erase("HOME");
  const Result r = sb.run({"gallery", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvik-nimbra: HOME unset\n");
}

}  // namespace
}  // namespace bb
