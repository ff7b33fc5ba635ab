// The program's PE load configuration. Its DependentLoadFlags make the loader take the static
// imports, and what they import, from System32 only: otherwise it searches the exe's own folder
// first (the Downloads folder a ZIP was unpacked into), before any of our code could narrow the
// search. MSVC writes the same with /DEPENDENTLOADFLAG. The MinGW CRT brings no load
// configuration, and GNU ld does not point the PE header at one: lld links the MinGW programs.
#include <windows.h>

#include <cstddef>

// MinGW's winnt.h still calls DependentLoadFlags Reserved1; this is the layout Windows reads.
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) == 0x4e);
static_assert(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64) == 0x70);

namespace {

// SecurityCookie stays 0: it would name a /GS cookie for the loader to seed, and the stack
// protector's canary is GCC's, seeded by stack_guard.cpp.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfig() {
  IMAGE_LOAD_CONFIG_DIRECTORY64 config{};
  config.Size = sizeof config;
  config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;
}

}  // namespace

extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = LoadConfig();
