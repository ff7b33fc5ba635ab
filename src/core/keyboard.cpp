// The on-screen keyboard: end every running one, then start a fresh one.
#include "frm_ipsetter.h"

namespace ipsetter {

namespace {
constexpr wchar_t kKeyboardQuery[] =
    L"Select Name from Win32_Process Where Name = 'Osk.exe' OR Name = 'MSSWCHX.EXE'";
}

// Every step may fail on its own and the next one still runs: the keyboard is a convenience
// and must never get in the way of the window.
void frmIpsetter::Run_Keyboard(const bool& launch) {
  ResultSet processes;
  try {
    auto service = wmi_.Bind(kDefaultMoniker);
    processes = service->ExecQuery(kKeyboardQuery);
  } catch (...) {
  }
  for (auto& process : processes) {
    try {
      process->Terminate();
    } catch (...) {
    }
  }
  if (launch) {
    try {
      platform_.StartKeyboard();
    } catch (...) {
    }
  }
}

void frmIpsetter::cmdKeyboard_Click() {
  txtOver.SetFocus();
  Run_Keyboard(true);
}

}  // namespace ipsetter
