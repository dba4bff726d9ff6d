// The start-up baseline: a program that prints one line, linked with the
// same shared libraries as orvik-nimbra (see bench/CMakeLists.txt), so that
// a comparison shows what our own start-up adds to the loader's work.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string line = argc > 1 ? std::string(argv[1]) : std::string("hello");
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
