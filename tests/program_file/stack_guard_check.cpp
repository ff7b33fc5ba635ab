// Built like the program: shows the stack protector's canary, and that an overflow ends the process.
//   stack-guard-check guard      prints the canary (hex, two digits a byte)
//   stack-guard-check smash      overruns a local buffer: the process must end with 0xC0000409
//   stack-guard-check fortify    a checked memcpy past its buffer: the same
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

volatile std::size_t g_length = 64;  // not known to the compiler

// The buffers are printed so that the compiler must keep every write.
__attribute__((noinline)) int Smash(const char* source) {
  char buffer[16];
  volatile char* out = buffer;
  for (std::size_t i = 0; i < g_length; ++i)
    out[i] = source[i];
  return std::puts(buffer);
}

__attribute__((noinline)) int Fortify(const char* source) {
  char buffer[16];
  std::memcpy(buffer, source, g_length);
  return std::puts(buffer);
}

}  // namespace

int main(int argc, char** argv) {
  static const char kSource[128] = "overrun";
  if (argc == 2 && std::strcmp(argv[1], "guard") == 0) {
    std::printf("%0*llx\n", static_cast<int>(2 * sizeof __stack_chk_guard),
                static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "smash") == 0)
    return Smash(kSource);
  if (argc == 2 && std::strcmp(argv[1], "fortify") == 0)
    return Fortify(kSource);
  std::printf("usage: stack-guard-check guard|smash|fortify\n");
  return 2;
}
