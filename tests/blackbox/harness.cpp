#include "harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bb {

std::string nimbra_binary() { return NIMBRA_BINARY; }

Sandbox::Sandbox() {
  std::string tmpl = (fs::temp_directory_path() / "nimbra-bb-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  home_ = root_ / "home";
  fs::create_directories(home_);
  env["HOME"] = home_.string();
  env["PATH"] = "/usr/local/bin:/usr/bin:/bin";
  env["LANG"] = "C.UTF-8";
}

Sandbox::~Sandbox() {
  std::error_code ec;
  // Make read-only test directories removable again.
  for (auto it = fs::recursive_directory_iterator(
           root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

fs::path Sandbox::write(const fs::path& relative, std::string_view content, unsigned mode) const {
  const fs::path path = relative.is_absolute() ? relative : home_ / relative;
  fs::create_directories(path.parent_path());
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  fs::permissions(path, static_cast<fs::perms>(mode));
  return path;
}

fs::path Sandbox::install_secrets(std::string_view script_body) const {
  return write(".local/bin/secrets", "#!/bin/sh\n" + std::string(script_body) + "\n", 0755);
}

void Sandbox::use_server(const std::string& base_url) {
  env["ORVIK_NIMBRA_INTL_BASE_URL"] = base_url;
  env["ORVIK_NIMBRA_ASIA_BASE_URL"] = base_url;
}

Result Sandbox::run(const std::vector<std::string>& args, int timeout_s) const {
  // NIMBRA_VALGRIND=1 runs every invocation under memcheck; an error or a
  // leak makes it exit 99, which no test expects.
  if (const char* v = std::getenv("NIMBRA_VALGRIND"); v != nullptr && std::string_view(v) == "1") {
    std::vector<std::string> wrapped = {"--quiet",
                                        "--error-exitcode=99",
                                        "--leak-check=full",
                                        "--errors-for-leak-kinds=definite,indirect",
                                        "--show-leak-kinds=definite,indirect",
                                        nimbra_binary()};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return run_program("/usr/bin/valgrind", wrapped, timeout_s * 4);
  }
  return run_program(nimbra_binary(), args, timeout_s);
}

Result Sandbox::run_program(const std::string& program, const std::vector<std::string>& args,
                            int timeout_s) const {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");

  std::vector<std::string> env_text;
  for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, root_.c_str());
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (rc != 0) throw std::runtime_error("posix_spawn failed for " + program);

  Result result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  bool killed = false;
  while (open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 && !killed) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    if (::poll(fds, 2, left > 0 ? static_cast<int>(std::min<long long>(left, 1000)) : 100) < 0 &&
        errno != EINTR)
      break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buf[65536];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

std::vector<std::string> Sandbox::files_in(const fs::path& dir) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::ranges::sort(names);
  return names;
}

std::vector<std::string> Sandbox::entries_in(const fs::path& dir) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    names.push_back(e.path().filename().string());
  std::ranges::sort(names);
  return names;
}

std::string read_file(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace bb
