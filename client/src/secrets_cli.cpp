// The external secrets command, run as a child without a shell. A command
// that is missing, fails, hangs or prints nothing simply knows no secret.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "nimbra/resolve.hpp"
#include "orvik/text.hpp"

extern char** environ;

namespace resolve {
namespace {

using Clock = std::chrono::steady_clock;

// More than this is not a secret; the child is ended and nothing is used.
constexpr std::size_t MAX_SECRET_OUTPUT = 1024 * 1024;

struct FdCloser {
  void operator()(int* fd) const {
    if (*fd >= 0) ::close(*fd);
    delete fd;
  }
};
using Fd = std::unique_ptr<int, FdCloser>;

struct ActionsDestroyer {
  void operator()(posix_spawn_file_actions_t* a) const { posix_spawn_file_actions_destroy(a); }
};

// The pipe must not take the place of a standard descriptor (when this
// process was started with one closed), or the child's redirections would
// clobber it. Returns a descriptor above 2, or -1.
int above_standard(int fd) {
  if (fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

int millis_left(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000 ? 1000 : static_cast<int>(left);
}

// Starts `program get name` with standard output on `out_write`.
std::optional<pid_t> spawn(const std::string& program, std::string_view name, int out_write) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  std::unique_ptr<posix_spawn_file_actions_t, ActionsDestroyer> owner(&actions);
  if (posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(&actions, out_write, 1) != 0 ||
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) != 0)
    return std::nullopt;
  std::string arg0 = program, arg1 = "get", arg2(name);
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
    return std::nullopt;
  return pid;
}

// Reads the child's output to its end, or until the deadline or the cap.
// False when the output is unusable (too long, too late, unreadable).
bool read_all(int fd, Clock::time_point deadline, std::string& output) {
  char buffer[16384];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int wait = millis_left(deadline);
    if (wait == 0) return false;
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (n == 0) return true;
    output.append(buffer, static_cast<std::size_t>(n));
    if (output.size() > MAX_SECRET_OUTPUT) return false;
  }
}

// Waits for the child until the deadline; true when it exited with 0. A
// child still running at the deadline is killed and reaped.
bool exited_cleanly(pid_t pid, Clock::time_point deadline, bool give_up) {
  int status = 0;
  while (!give_up) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0 && errno != EINTR) return false;
    if (millis_left(deadline) == 0) break;
    ::usleep(10'000);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

}  // namespace

std::optional<std::string> run_secrets_command(const std::string& program, std::string_view name,
                                               std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  Fd read_end(new int(above_standard(fds[0])));
  Fd write_end(new int(above_standard(fds[1])));
  if (*read_end < 0 || *write_end < 0) return std::nullopt;
  const auto pid = spawn(program, name, *write_end);
  write_end.reset();  // the child holds its own copy; EOF comes when it is done
  if (!pid) return std::nullopt;
  std::string output;
  const bool complete = read_all(*read_end, deadline, output);
  read_end.reset();
  if (!exited_cleanly(*pid, deadline, !complete)) return std::nullopt;
  const std::string decoded = text::utf8_lossy(output);
  const std::string_view secret = text::trim(decoded);
  if (secret.empty()) return std::nullopt;
  return std::string(secret);
}

std::optional<std::string> secrets_cli(std::string_view name) {
  const auto home = env_lookup("HOME");
  if (!home) return std::nullopt;
  return run_secrets_command(*home + "/.local/bin/secrets", name, SECRETS_TIME_LIMIT);
}

}  // namespace resolve
