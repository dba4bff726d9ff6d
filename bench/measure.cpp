// Runs a command and writes "wall_ms cpu_ms peak_rss_kib" of it to the file
// named by -o (CPU = user + system), with microsecond resolution where
// /usr/bin/time gives hundredths of a second. Standard streams pass through.
//   measure -o FILE COMMAND [ARGUMENT...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

double since_ms(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) * 1e3 +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e6;
}

double ms(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[1], "-o") != 0) {
    std::fprintf(stderr, "usage: measure -o FILE COMMAND [ARGUMENT...]\n");
    return 2;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[3], argv + 3);
    std::perror("measure: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  const double wall = since_ms(start);
  FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return 1;
  std::fprintf(out, "%.3f %.3f %ld\n", wall, ms(usage.ru_utime) + ms(usage.ru_stime),
               usage.ru_maxrss);
  std::fclose(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
