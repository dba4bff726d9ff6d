// Reads a client's standard output (chat text, or raw event-stream lines)
// whose deltas carry the server's CLOCK_MONOTONIC write time in ns, stamps
// each line when it arrives, and prints "count<TAB>median_us<TAB>p99_us".
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The stamp of a line: after "content":" in an event-stream line, else at
// the start of a text line; 0 when there is none.
long long stamp_of(std::string_view line) {
  constexpr std::string_view marker = "\"content\":\"";
  if (const auto at = line.find(marker); at != std::string_view::npos)
    line.remove_prefix(at + marker.size());
  long long value = 0;
  std::size_t digits = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    ++digits;
  }
  return digits >= 6 ? value : 0;
}

double percentile(std::vector<long long>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return static_cast<double>(sorted[std::min(index, sorted.size() - 1)]) / 1000.0;
}

}  // namespace

int main() {
  std::vector<long long> delays;
  delays.reserve(1 << 16);
  std::string pending;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) break;
    const long long now = monotonic_ns();
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
      if (const long long stamp = stamp_of(std::string_view(pending).substr(start, end - start)))
        delays.push_back(now - stamp);
    pending.erase(0, start);
  }
  std::sort(delays.begin(), delays.end());
  std::printf("%zu\t%.1f\t%.1f\n", delays.size(), percentile(delays, 0.5),
              percentile(delays, 0.99));
  return 0;
}
