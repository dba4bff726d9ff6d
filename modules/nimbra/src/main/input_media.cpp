#include "input_media.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "orvik/text.hpp"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> MIME_TYPES = {{
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"webp", "image/webp"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
}};

std::string errno_text(int error) { return std::strerror(error); }

// Closes a file descriptor on every way out.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// At most `limit` bytes of the file, or the system's reason for failing.
// Only regular files are read: a FIFO or a device could block forever.
std::expected<std::string, std::string> read_prefix(const std::string& path, std::size_t limit) {
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) return std::unexpected(errno_text(errno));
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return std::unexpected(errno_text(errno));
  if (S_ISDIR(st.st_mode)) return std::unexpected(errno_text(EISDIR));
  if (!S_ISREG(st.st_mode)) return std::unexpected(std::string("not a regular file"));
  ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
  const std::size_t expected_size = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  std::string bytes;
  // One allocation for the usual case; the file may still grow or shrink.
  bytes.resize(std::min(limit, expected_size + 1));
  std::size_t filled = 0;
  while (filled < limit) {
    if (filled == bytes.size())
      bytes.resize(std::min(limit, std::max<std::size_t>(bytes.size() * 2, 65536)));
    const ssize_t n = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno_text(errno));
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

// The extension of the path's last component: none for a name without a
// dot, or whose only dot leads it; empty for a name ending in ".".
std::optional<std::string_view> extension_of(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name == "." || name == "..") return std::nullopt;
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

const Json* json_at(const Json& value, std::string_view pointer) {
  const Json* at = &value;
  while (!pointer.empty()) {
    if (pointer.front() != '/') return nullptr;
    pointer.remove_prefix(1);
    const auto end = pointer.find('/');
    std::string token(pointer.substr(0, end));
    pointer = end == std::string_view::npos ? std::string_view{} : pointer.substr(end);
    // RFC 6901 escapes: "~1" is "/", "~0" is "~".
    for (std::size_t i = 0; (i = token.find('~', i)) != std::string::npos; ++i) {
      if (i + 1 < token.size() && token[i + 1] == '1')
        token.replace(i, 2, "/");
      else if (i + 1 < token.size() && token[i + 1] == '0')
        token.replace(i, 2, "~");
    }
    if (at->is_object()) {
      const auto it = at->find(token);
      if (it == at->end()) return nullptr;
      at = &*it;
    } else if (at->is_array()) {
      if (token.empty() || (token.size() > 1 && token.front() == '0') ||
          token.find_first_not_of("0123456789") != std::string::npos || token.size() > 18)
        return nullptr;
      const auto index = std::stoull(token);
      if (index >= at->size()) return nullptr;
      at = &(*at)[index];
    } else {
      return nullptr;
    }
  }
  return at;
}

const std::string* json_string_at(const Json& value, std::string_view pointer) {
  const Json* at = json_at(value, pointer);
  return at != nullptr && at->is_string() ? at->get_ptr<const std::string*>() : nullptr;
}

Json json_or_null(const Json& value, std::string_view pointer) {
  const Json* at = json_at(value, pointer);
  return at != nullptr ? *at : Json(nullptr);
}

Json request_body(std::string_view model, Json input, Json parameters) {
  Json body = Json::object();
  body.get_ref<Json::object_t&>().reserve(3);
  body["model"] = model;
  body["input"] = std::move(input);
  body["parameters"] = std::move(parameters);
  return body;
}

std::string_view image_mime_type(std::string_view extension) {
  for (const auto& [ext, mime] : MIME_TYPES)
    if (ext == extension) return mime;
  return {};
}

std::expected<std::string, CommandError> file_to_data_url(const std::string& path) {
  // A picture, its Base64 text and the request text built from it are large
  // short-lived blocks. Left to itself glibc raises its mmap threshold when
  // the first of them is freed and keeps the later ones in a heap it does
  // not trim; a fixed threshold hands each one back as soon as it is freed.
  static const bool fixed_threshold = ::mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
  (void)fixed_threshold;
  auto bytes = read_prefix(path, INPUT_CAP + 1);
  if (!bytes) return std::unexpected(runtime_error("cannot read " + path + ": " + bytes.error()));
  if (bytes->size() > INPUT_CAP)
    return std::unexpected(runtime_error(path + " is over the 10 MB input cap"));
  const auto ext = extension_of(path);
  if (!ext || !text::is_valid_utf8(*ext))
    return std::unexpected(usage(path + " has no extension — cannot infer an image mime type"));
  const std::string lowered = ascii_lower(*ext);
  const std::string_view mime = image_mime_type(lowered);
  if (mime.empty())
    return std::unexpected(
        usage("unsupported input type ." + lowered + " — images: png, jpg, webp, gif, bmp, tiff"));

  std::string url = "data:";
  url += mime;
  url += ";base64,";
  const std::size_t head = url.size();
  const std::size_t encoded = 4 * ((bytes->size() + 2) / 3);
  url.resize(head + encoded + 1);  // the encoder writes a closing NUL
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(url.data() + head),
                                      reinterpret_cast<const unsigned char*>(bytes->data()),
                                      static_cast<int>(bytes->size()));
  url.resize(head + static_cast<std::size_t>(written));
  return url;
}

bool is_http_url(std::string_view text) {
  return text.starts_with("http://") || text.starts_with("https://");
}

std::vector<std::string> choice_image_urls(const Json& answer) {
  std::vector<std::string> urls;
  const Json* choices = json_at(answer, "/output/choices");
  if (choices == nullptr || !choices->is_array()) return urls;
  for (const Json& choice : *choices) {
    const Json* content = json_at(choice, "/message/content");
    if (content == nullptr || !content->is_array()) continue;
    for (const Json& item : *content) {
      if (!item.is_object()) continue;
      const auto it = item.find("image");
      if (it != item.end() && it->is_string()) urls.push_back(it->get<std::string>());
    }
  }
  return urls;
}
