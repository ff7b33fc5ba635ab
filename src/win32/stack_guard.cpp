// The stack protector's canary and its failure routines, linked into every MinGW program in place of
// libssp's: libssp seeds the canary with CryptAcquireContext, which loads the RSA provider (rsaenh,
// crypt32, bcrypt) at every start, 20 ms under Wine. RtlGenRandom gives the same kind of seed
// without a provider. The checked string functions (_FORTIFY_SOURCE) still come from libssp and
// report through __chk_fail below.
#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>

namespace {

[[noreturn]] void FailFast() {
  // Nothing of the damaged process may run: no handlers, no unwinding.
  RaiseFailFastException(nullptr, nullptr, 0);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  __builtin_trap();
}

}  // namespace

extern "C" {

// Not zero even if the seed fails: a zero canary is what a string overflow writes. 32-bit builds
// keep its low half.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x5a3c96e1f00d2b47ULL);

[[noreturn]] void __stack_chk_fail() {
  FailFast();
}

[[noreturn]] void __chk_fail() {
  FailFast();
}

// Before any protected code runs: the constructors run ahead of the program's own. Itself unprotected,
// or it would check the new canary against the old one.
__attribute__((constructor(101), no_stack_protector)) void ipsetter_seed_stack_guard() {
  std::uintptr_t seed = 0;
  if (RtlGenRandom(&seed, sizeof seed) && seed != 0)
    __stack_chk_guard = seed;
}
}
