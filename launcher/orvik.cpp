// The family launcher: `orvik <module> args…` runs `orvik-<module>` with the
// remaining arguments, found beside this launcher or on PATH. `orvik` alone
// lists the modules it can find.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::string launcher_dir() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

std::vector<std::string> search_dirs() {
  std::vector<std::string> dirs;
  if (auto own = launcher_dir(); !own.empty()) dirs.push_back(own);
  if (const char* path = std::getenv("PATH")) {
    std::string p(path);
    std::size_t start = 0;
    while (start <= p.size()) {
      const auto end = p.find(':', start);
      std::string dir = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!dir.empty()) dirs.push_back(dir);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return dirs;
}

bool executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A module name is a plain word: no slash, nothing that could walk the path.
bool plain_name(const std::string& name) {
  if (name.empty() || name.front() == '-') return false;
  for (const unsigned char c : name)
    if (!(std::isalnum(c) != 0 || c == '-' || c == '_')) return false;
  return true;
}

int list_modules() {
  std::set<std::string> found;
  for (const auto& dir : search_dirs()) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) continue;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 6 && name.starts_with("orvik-") && executable_file(dir + "/" + name))
        found.insert(name.substr(6));
    }
    ::closedir(d);
  }
  std::printf("usage: orvik <module> [args…]\n");
  if (found.empty()) {
    std::printf("no modules found (looked for orvik-<module> beside this launcher and on PATH)\n");
  } else {
    std::printf("modules:\n");
    for (const auto& m : found) std::printf("  %s\n", m.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return list_modules();
  const std::string module = argv[1];
  if (module == "-h" || module == "--help" || module == "help") return list_modules();
  if (plain_name(module)) {
    for (const auto& dir : search_dirs()) {
      const std::string candidate = dir + "/orvik-" + module;
      if (!executable_file(candidate)) continue;
      std::vector<char*> child;
      child.push_back(const_cast<char*>(candidate.c_str()));
      for (int i = 2; i < argc; ++i) child.push_back(argv[i]);
      child.push_back(nullptr);
      ::execv(candidate.c_str(), child.data());
      std::fprintf(stderr, "orvik: cannot run %s: %s\n", candidate.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::fprintf(stderr,
               "orvik: unknown module '%s' (no orvik-%s beside this launcher or on PATH). Run "
               "`orvik` to list the modules.\n",
               module.c_str(), module.c_str());
  return 2;
}
