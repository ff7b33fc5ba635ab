// What the form asks of a real window and of the platform (screen, placement, keyboard start).
#pragma once

#include <cstdint>
#include <string>

namespace ipsetter {

// Control ids: 100 + the control's row in the window's control table (front to back).
enum class ControlId : int {
  Text1 = 101,
  txtStatus = 102,
  cmdKeyboard = 103,
  cmdRefresh = 104,
  chkStatic = 105,
  Timer1 = 106,
  cmdExit = 107,
  cmdApply = 108,
  txtDns2 = 109,
  txtDns1 = 110,
  txtGateway = 111,
  txtSubnet = 112,
  txtIp = 113,
  txtOver = 114,
  lblStatus = 115,
  lblDns2 = 116,
  lblDns1 = 117,
  lblGateway = 118,
  lblSubnet = 119,
  lblIp = 120,
};

// What the window's logic needs of a real window: the Win32 layer implements it on HWNDs,
// tests in memory. The rules (check box events, timer restarts) live in core, not here.
class WindowPeer {
 public:
  virtual ~WindowPeer() = default;

  virtual std::wstring Title() const = 0;
  virtual void SetTitle(const std::wstring& title) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Outer geometry (frame and caption included), in twips.
  virtual double OuterWidthTwips() const = 0;
  virtual double OuterHeightTwips() const = 0;
  virtual void SetLeftTwips(double left) = 0;
  virtual void SetTopTwips(double top) = 0;
  virtual std::intptr_t Handle() const = 0;
  // Destroys the window; the program ends with it.
  virtual void Destroy() = 0;

  // Text of a text box, caption of a label.
  virtual std::wstring Text(ControlId id) const = 0;
  virtual void SetText(ControlId id, const std::wstring& text) = 0;
  virtual bool Enabled(ControlId id) const = 0;
  virtual void SetEnabled(ControlId id, bool enabled) = 0;
  // Shows a check box value (0, 1, 2); the value itself is kept by core.
  virtual void ShowCheck(ControlId id, int value) = 0;
  virtual void Focus(ControlId id) = 0;
  // Ticks every interval from now on, replacing any earlier schedule.
  virtual void StartTimer(ControlId id, unsigned interval_ms) = 0;
  virtual void StopTimer(ControlId id) = 0;
  // Tells screen readers a new outcome; the focus rests in the focus sink meanwhile, so a change
  // of the title or the status line would pass unheard. Nothing happens where the platform
  // cannot say it.
  virtual void Announce(const std::wstring& text) = 0;
};

// What the window's logic needs of the rest of the system.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual double ScreenWidthTwips() const = 0;
  virtual double ScreenHeightTwips() const = 0;
  virtual void SetWindowPos(std::intptr_t hwnd,
                            std::intptr_t insert_after,
                            std::int32_t x,
                            std::int32_t y,
                            std::int32_t cx,
                            std::int32_t cy,
                            std::int32_t flags) = 0;
  // Starts the on-screen keyboard with a normal, activated window. Throws on failure.
  virtual void StartKeyboard() = 0;
  // Whether the process runs in this program's Windows session; false where that cannot be told.
  virtual bool RunsInThisSession(std::uint32_t process_id) const = 0;
};

}  // namespace ipsetter
