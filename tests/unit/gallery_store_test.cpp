#include "gallery_store.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Every entry of a directory, hidden ones included, sorted.
std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::ranges::sort(names);
  return names;
}

class GalleryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nimbra-gallery-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Serves each URL's body in pieces of `piece` bytes; a URL starting with
  // "fail:" delivers half its body, then fails.
  Downloader fake(std::map<std::string, std::string> bodies, std::size_t piece = 3) {
    return [bodies = std::move(bodies), piece](
               std::string_view url, long timeout_s,
               const wire::ByteSink& sink) -> std::expected<void, std::string> {
      EXPECT_EQ(timeout_s, 300);
      const std::string& body = bodies.at(std::string(url));
      const bool fail = url.starts_with("fail:");
      const std::size_t end = fail ? body.size() / 2 : body.size();
      for (std::size_t at = 0; at < end; at += piece)
        if (!sink(std::string_view(body).substr(at, std::min(piece, end - at))))
          return std::unexpected("stopped by the sink");
      if (fail) return std::unexpected("reading result body: connection reset");
      return {};
    };
  }

  fs::path dir_;
};

TEST_F(GalleryStore, ExtensionComesFromThePathPartOrFollowsTheKind) {
  struct Case {
    const char* url;
    const char* kind;
    const char* ext;
  } cases[] = {
      {"https://x/a/B.PNG?sig=1.2.jpg", "image", "png"},
      {"https://x/a.jpeg", "image", "jpeg"},
      {"https://x/a.webp", "video", "webp"},
      {"https://x/a.tiff", "image", "png"},
      {"https://x/noext", "image", "png"},
      {"https://x/clip?ext=.mp3", "video", "mp4"},
      {"https://x/voice", "speech", "wav"},
      {"https://x/voice.MP3", "speech", "mp3"},
      {"gif", "image", "gif"},  // no dot: the whole text is the candidate
      {"https://x/a.mp4", "other", "mp4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(artifact_extension(c.url, c.kind), c.ext);
  }
  EXPECT_EQ(artifact_name("image", 1700000000123, 2, "png"), "nmb-image-1700000000123-2.png");
}

TEST_F(GalleryStore, SavesEachUrlUnderItsIndexWithOneTimeStamp) {
  const std::vector<std::string> urls = {"u/a.png", "u/b.JPG?x=y", "u/c"};
  const auto saved =
      save_urls_into(dir_, urls, "image", 42,
                     fake({{"u/a.png", "alpha"}, {"u/b.JPG?x=y", "bravo!"}, {"u/c", "c"}}));
  ASSERT_TRUE(saved.has_value()) << saved.error().message;
  EXPECT_EQ(*saved, (std::vector<std::string>{(dir_ / "nmb-image-42-0.png").string(),
                                              (dir_ / "nmb-image-42-1.jpg").string(),
                                              (dir_ / "nmb-image-42-2.png").string()}));
  EXPECT_EQ(slurp(dir_ / "nmb-image-42-0.png"), "alpha");
  EXPECT_EQ(slurp(dir_ / "nmb-image-42-1.jpg"), "bravo!");
  EXPECT_EQ(slurp(dir_ / "nmb-image-42-2.png"), "c");
  EXPECT_EQ(entries(dir_).size(), 3u);  // no temporary file left
}

TEST_F(GalleryStore, AFailedDownloadLeavesNoPartialFileButKeepsEarlierOnes) {
  std::ofstream(dir_ / "nmb-video-7-1.mp4") << "an older file of the same name";
  const auto saved = save_urls_into(dir_, {"ok.mp4", "fail:x.mp4", "never.mp4"}, "video", 7,
                                    fake({{"ok.mp4", "first"}, {"fail:x.mp4", "0123456789"}}));
  ASSERT_FALSE(saved.has_value());
  EXPECT_EQ(saved.error().kind, CommandError::Kind::Runtime);
  EXPECT_EQ(saved.error().message, "reading result body: connection reset");
  EXPECT_EQ(entries(dir_), (std::vector<std::string>{"nmb-video-7-0.mp4", "nmb-video-7-1.mp4"}));
  EXPECT_EQ(slurp(dir_ / "nmb-video-7-0.mp4"), "first");
  // The file that was there keeps its content: nothing half-written replaced it.
  EXPECT_EQ(slurp(dir_ / "nmb-video-7-1.mp4"), "an older file of the same name");
}

TEST_F(GalleryStore, AFileThatCannotBeWrittenIsReported) {
  const fs::path missing = dir_ / "gone";
  const auto saved = save_urls_into(missing, {"a.wav"}, "speech", 1, fake({{"a.wav", "x"}}));
  ASSERT_FALSE(saved.has_value());
  EXPECT_EQ(saved.error().message, "cannot write " + (missing / "nmb-speech-1-0.wav").string() +
                                       ": No such file or directory");

  // A directory squatting on the final name: the body is written, the
  // rename fails, and the temporary file goes away.
  fs::create_directories(dir_ / "nmb-image-1-0.png" / "inner");
  const auto blocked = save_urls_into(dir_, {"a.png"}, "image", 1, fake({{"a.png", "x"}}));
  ASSERT_FALSE(blocked.has_value());
  EXPECT_TRUE(blocked.error().message.starts_with("cannot write " +
                                                  (dir_ / "nmb-image-1-0.png").string() + ": "))
      << blocked.error().message;
  EXPECT_EQ(entries(dir_), (std::vector<std::string>{"nmb-image-1-0.png"}));
}

TEST_F(GalleryStore, SaveUrlsNeedsUrlsAndHome) {
  const char* home = std::getenv("HOME");
  const std::string saved_home = home != nullptr ? home : "";
  EXPECT_EQ(save_urls({}, "image").error().message, "the platform returned no media");
  ::unsetenv("HOME");
  EXPECT_EQ(save_urls({"http://127.0.0.1:1/a.png"}, "image").error().message, "HOME unset");
  EXPECT_EQ(gallery_dir().error().message, "HOME unset");
  ::setenv("HOME", "/some/home", 1);
  EXPECT_EQ(gallery_dir().value(), fs::path("/some/home/Pictures/generated"));
  if (home != nullptr)
    ::setenv("HOME", saved_home.c_str(), 1);
  else
    ::unsetenv("HOME");
}

TEST_F(GalleryStore, ListingIsNewestFirstStableAndRegularFilesOnly) {
  const auto at = fs::file_time_type::clock::now();
  struct File {
    const char* name;
    int age_s;
  } files[] = {
      {"old.png", 30}, {"tie-a.png", 10}, {"new.mp4", 0}, {"tie-b.png", 10}, {".hidden", 20}};
  for (const auto& f : files) {
    std::ofstream(dir_ / f.name) << f.name;
    fs::last_write_time(dir_ / f.name, at - std::chrono::seconds(f.age_s));
  }
  fs::create_directories(dir_ / "sub");
  std::ofstream(dir_ / "sub" / "deep.png") << "x";
  fs::create_symlink(dir_ / "new.mp4", dir_ / "link.mp4");
  fs::create_symlink(dir_ / "sub", dir_ / "link-dir");

  // Ties keep the order of the directory listing itself.
  std::vector<std::string> ties;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename();
    if (name.starts_with("tie-")) ties.push_back((dir_ / name).string());
  }
  const auto listed = list_gallery(dir_);
  ASSERT_TRUE(listed.has_value());
  EXPECT_EQ(*listed,
            (std::vector<std::string>{(dir_ / "new.mp4").string(), ties[0], ties[1],
                                      (dir_ / ".hidden").string(), (dir_ / "old.png").string()}));

  EXPECT_TRUE(list_gallery(dir_ / "absent").value().empty());
  const auto not_dir = list_gallery(dir_ / "old.png");
  ASSERT_FALSE(not_dir.has_value());
  EXPECT_EQ(not_dir.error().message,
            "cannot read " + (dir_ / "old.png").string() + ": Not a directory");
}

}  // namespace
