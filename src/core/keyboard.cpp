// The on-screen keyboard: end every running one, then start a fresh one.
#include <optional>
#include <string_view>

#include "frm_ipsetter.h"

namespace ipsetter {

namespace {
constexpr wchar_t kKeyboardQuery[] =
    L"Select Name from Win32_Process Where Name = 'Osk.exe' OR Name = 'MSSWCHX.EXE'";

// A process id written in decimal, as WMI writes Win32_Process's key.
std::optional<std::uint32_t> DecimalId(const std::wstring& text) {
  if (text.empty() || text.size() > 10)
    return std::nullopt;
  std::uint64_t id = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9')
      return std::nullopt;
    id = id * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (id > 0xFFFFFFFFu)
    return std::nullopt;
  return static_cast<std::uint32_t>(id);
}

// The id of the process an object stands for: its key Handle, where the service adds the key to
// an object whose query selected other properties; else the key as the object's relative path
// names it, Win32_Process.Handle="1234", which every object carries.
std::optional<std::uint32_t> ProcessIdOf(ManagementObject& process) {
  try {
    const Value handle = process.Property(L"Handle");
    if (handle.IsString())
      return DecimalId(handle.AsString());
  } catch (const ManagementError&) {
  }
  const Value path = process.Property(L"__RELPATH");
  if (!path.IsString())
    return std::nullopt;
  const std::wstring& text = path.AsString();
  constexpr std::wstring_view kKey = L".Handle=\"";
  const std::size_t start = text.find(kKey);
  if (start == std::wstring::npos || text.back() != L'"')
    return std::nullopt;
  const std::size_t first = start + kKey.size();
  return DecimalId(text.substr(first, text.size() - 1 - first));
}

}  // namespace

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
      // The query lists every session's processes: another user's keyboard (Remote Desktop, fast
      // user switching) is not ours to end, nor one whose session cannot be told.
      const std::optional<std::uint32_t> id = ProcessIdOf(*process);
      if (id && platform_.RunsInThisSession(*id))
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
