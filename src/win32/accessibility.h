// Screen readers, high contrast and low vision: names, colours, the scaled picture, announcements.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <optional>
#include <string>

#include "window_peer.h"

struct IRawElementProviderSimple;

// What the window does for screen readers, high-contrast themes and low vision, beside the window
// itself.
namespace ipsetter::win32 {

// Screen readers name an edit control after the static found by walking back through the child
// windows, and the visible labels come after every box. So a label no one sees goes just before
// each box that needs a name; these ids follow the table's.
inline constexpr int kFirstHiddenLabelId = 121;

// The text of the hidden label that goes before this control, if it gets one. The focus sink's
// mirrors the window's title (empty here): it is where the focus rests while the program works.
std::optional<std::wstring> HiddenLabelText(ControlId id);

// The window text of a control: a picture button is named by its tooltip, as it shows no caption.
const wchar_t* WindowTextOf(ControlId id);

// Whether the user has a high-contrast theme on.
bool SystemHighContrast();

// The keyboard picture at this DPI: whole multiples of 96 by repeating pixels (it is pixel art),
// other factors smoothed. nullptr at 96 DPI or on failure: the original serves.
HBITMAP ScaledPicture(HBITMAP picture, int dpi);

// Says a text through UI Automation's notification event (Windows 10 1709 and later). Resolved at
// run time: a static import would keep the program from loading where uiautomationcore lacks it
// (Wine 8); there nothing is said.
class Announcer {
 public:
  Announcer() = default;
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  void Say(HWND hwnd, const std::wstring& text);
  // Whether the platform can say anything; loads the library on first use.
  bool Available();

 private:
  using HostProviderFromHwnd = HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**);
  using RaiseNotification = HRESULT(WINAPI*)(IRawElementProviderSimple*, int, int, BSTR, BSTR);

  bool tried_ = false;
  HMODULE module_ = nullptr;
  HostProviderFromHwnd host_provider_ = nullptr;
  RaiseNotification raise_ = nullptr;
};

}  // namespace ipsetter::win32
