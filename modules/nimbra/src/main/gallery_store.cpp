#include "gallery_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "input_media.hpp"
#include "orvik/config/home.hpp"
#include "output.hpp"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

constexpr long DOWNLOAD_TIMEOUT_S = 300;
constexpr std::array<std::string_view, 8> MEDIA_EXTENSIONS = {"png", "jpg", "jpeg", "webp",
                                                              "gif", "mp4", "wav",  "mp3"};

std::string errno_text(int error) { return std::strerror(error); }

// The temporary file being written, removed if the process is interrupted
// half-way. Plain storage so that the signal handler may read it.
char g_partial[4096];

extern "C" void remove_partial_and_reraise(int sig) {
  if (g_partial[0] != '\0') ::unlink(g_partial);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// While alive, an interrupt, hang-up or termination removes the temporary
// file before the process dies as it would have.
class PartialGuard {
 public:
  PartialGuard() {
    struct sigaction action {};
    action.sa_handler = remove_partial_and_reraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < SIGNALS.size(); ++i) {
      ::sigaction(SIGNALS[i], &action, &saved_[i]);
      // A signal the process was told to ignore stays ignored.
      if (saved_[i].sa_handler == SIG_IGN) ::sigaction(SIGNALS[i], &saved_[i], nullptr);
    }
  }
  ~PartialGuard() {
    for (std::size_t i = 0; i < SIGNALS.size(); ++i) ::sigaction(SIGNALS[i], &saved_[i], nullptr);
    g_partial[0] = '\0';
  }
  PartialGuard(const PartialGuard&) = delete;
  PartialGuard& operator=(const PartialGuard&) = delete;

  static void track(const std::string& path) {
    g_partial[0] = '\0';
    if (path.size() < sizeof g_partial) std::memcpy(g_partial, path.c_str(), path.size() + 1);
  }
  static void untrack() { g_partial[0] = '\0'; }

 private:
  static constexpr std::array<int, 3> SIGNALS = {SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> saved_{};
};

// Writes a body to a file descriptor in large pieces, fewer system calls
// than one write per received piece. Remembers the first error.
class BufferedFile {
 public:
  explicit BufferedFile(int fd) : fd_(fd) { buffer_.reserve(CAPACITY); }
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;
  ~BufferedFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  // False once writing has failed.
  bool append(std::string_view bytes) {
    if (error_ != 0) return false;
    if (buffer_.size() + bytes.size() > CAPACITY && !drain()) return false;
    if (bytes.size() >= CAPACITY) return write_all(bytes);
    buffer_.append(bytes);
    return true;
  }
  // Writes what is left and closes; the first error, or 0.
  int finish() {
    if (error_ == 0) drain();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && error_ == 0) error_ = errno;
    return error_;
  }
  [[nodiscard]] int error() const { return error_; }

 private:
  static constexpr std::size_t CAPACITY = 1 << 20;

  bool drain() {
    const bool ok = write_all(buffer_);
    buffer_.clear();
    return ok;
  }
  bool write_all(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  int fd_;
  int error_ = 0;
  std::string buffer_;
};

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Downloads one URL to `final_path` through a hidden temporary file beside
// it; the final name appears only when the whole body was written.
std::expected<void, CommandError> save_one(const fs::path& dir, const std::string& final_name,
                                           const std::string& url, const Downloader& download) {
  const std::string final_path = (dir / final_name).string();
  const auto cannot_write = [&](int error) {
    return std::unexpected(runtime_error("cannot write " + final_path + ": " + errno_text(error)));
  };
  std::string temp = (dir / ("." + final_name + ".XXXXXX.part")).string();
  const int fd = ::mkostemps(temp.data(), 5, O_CLOEXEC);
  if (fd < 0) return cannot_write(errno);
  PartialGuard::track(temp);
  ::fchmod(fd, 0666 & ~current_umask());

  BufferedFile file(fd);
  const auto fetched =
      download(url, DOWNLOAD_TIMEOUT_S, [&](std::string_view bytes) { return file.append(bytes); });
  int write_error = file.error();  // set when writing stopped the transfer
  if (write_error == 0 && fetched) write_error = file.finish();
  const auto give_up = [&] {
    ::unlink(temp.c_str());
    PartialGuard::untrack();
  };
  if (write_error != 0) {
    give_up();
    return cannot_write(write_error);
  }
  if (!fetched) {
    give_up();
    return std::unexpected(runtime_error(fetched.error()));
  }
  if (::rename(temp.c_str(), final_path.c_str()) != 0) {
    const int error = errno;
    give_up();
    return cannot_write(error);
  }
  PartialGuard::untrack();
  return {};
}

std::uint64_t now_millis() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return ms > 0 ? static_cast<std::uint64_t>(ms) : 0;
}

}  // namespace

std::expected<fs::path, CommandError> gallery_dir() {
  const auto home = config::home::env_raw("HOME");
  if (!home) return std::unexpected(runtime_error("HOME unset"));
  return fs::path(*home) / "Pictures" / "generated";
}

std::string artifact_extension(std::string_view url, std::string_view kind) {
  const std::string_view before_query = url.substr(0, url.find('?'));
  const auto dot = before_query.rfind('.');
  std::string candidate(dot == std::string_view::npos ? before_query
                                                      : before_query.substr(dot + 1));
  for (char& c : candidate)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (std::ranges::find(MEDIA_EXTENSIONS, candidate) != MEDIA_EXTENSIONS.end()) return candidate;
  if (kind == "video") return "mp4";
  if (kind == "speech") return "wav";
  return "png";
}

std::string artifact_name(std::string_view kind, std::uint64_t millis, std::size_t index,
                          std::string_view ext) {
  std::string name = "nmb-";
  name += kind;
  name += '-';
  name += std::to_string(millis);
  name += '-';
  name += std::to_string(index);
  name += '.';
  name += ext;
  return name;
}

std::expected<std::vector<std::string>, CommandError> save_urls_into(
    const fs::path& dir, const std::vector<std::string>& urls, std::string_view kind,
    std::uint64_t millis, const Downloader& download) {
  const PartialGuard guard;
  std::vector<std::string> saved;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    const std::string name = artifact_name(kind, millis, i, artifact_extension(urls[i], kind));
    auto one = save_one(dir, name, urls[i], download);
    if (!one) return std::unexpected(one.error());
    saved.push_back((dir / name).string());
  }
  return saved;
}

std::expected<std::vector<std::string>, CommandError> save_urls(
    const std::vector<std::string>& urls, std::string_view kind) {
  if (urls.empty()) return std::unexpected(runtime_error("the platform returned no media"));
  auto dir = gallery_dir();
  if (!dir) return std::unexpected(dir.error());
  std::error_code ec;
  fs::create_directories(*dir, ec);
  if (ec)
    return std::unexpected(runtime_error("cannot create " + dir->string() + ": " + ec.message()));
  return save_urls_into(*dir, urls, kind, now_millis(), wire::download);
}

void report_saved(const std::vector<std::string>& paths, const Json& answer,
                  std::string_view host_name, bool json) {
  if (!json) {
    for (const std::string& path : paths) out_line(path);
    return;
  }
  Json report = Json::object();
  report["paths"] = paths;
  report["host"] = host_name;
  report["request_id"] = json_or_null(answer, "/request_id");
  report["usage"] = json_or_null(answer, "/usage");
  out_json(report);
}

std::expected<std::vector<std::string>, CommandError> list_gallery(const fs::path& dir) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec == std::errc::no_such_file_or_directory) return std::vector<std::string>{};
  if (ec)
    return std::unexpected(runtime_error("cannot read " + dir.string() + ": " + ec.message()));

  struct Entry {
    struct timespec mtime;
    std::string path;
  };
  std::vector<Entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string path = it->path().string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    entries.push_back({st.st_mtim, std::move(path)});
  }
  std::ranges::stable_sort(entries, [](const Entry& a, const Entry& b) {
    if (a.mtime.tv_sec != b.mtime.tv_sec) return a.mtime.tv_sec > b.mtime.tv_sec;
    return a.mtime.tv_nsec > b.mtime.tv_nsec;
  });
  std::vector<std::string> paths;
  paths.reserve(entries.size());
  for (Entry& entry : entries) paths.push_back(std::move(entry.path));
  return paths;
}
