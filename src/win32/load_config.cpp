// The program's PE load configuration. Its DependentLoadFlags make the loader take the static
// imports, and what they import, from System32 only: otherwise it searches the exe's own folder
// first (the Downloads folder a ZIP was unpacked into), before any of our code could narrow the
// search. MSVC writes the same with /DEPENDENTLOADFLAG. The MinGW CRT brings no load
// configuration, and GNU ld does not point the PE header at one: lld links the MinGW programs.
#include <windows.h>

#include <cstddef>

// MinGW's winnt.h still calls DependentLoadFlags Reserved1; these are the layouts Windows reads.
#ifdef _WIN64
using LoadConfigDirectory = IMAGE_LOAD_CONFIG_DIRECTORY64;
static_assert(offsetof(LoadConfigDirectory, Reserved1) == 0x4e);
static_assert(sizeof(LoadConfigDirectory) == 0x70);
#else
using LoadConfigDirectory = IMAGE_LOAD_CONFIG_DIRECTORY32;
static_assert(offsetof(LoadConfigDirectory, Reserved1) == 0x36);
static_assert(sizeof(LoadConfigDirectory) == 0x48);
#endif

namespace {

// SecurityCookie stays 0: it would name a /GS cookie for the loader to seed, and the stack
// protector's canary is GCC's, seeded by stack_guard.cpp. On x86 the SEH handler table stays empty
// too: the image carries NO_SEH.
constexpr LoadConfigDirectory LoadConfig() {
  LoadConfigDirectory config{};
  config.Size = sizeof config;
  config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;
}

}  // namespace

// The linker finds it by this name (with the leading underscore of 32-bit C names on x86).
extern "C" const LoadConfigDirectory _load_config_used = LoadConfig();
