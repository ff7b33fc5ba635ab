// The real system under the form: the screen, window placement, the keyboard, sessions, contrast.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "window_peer.h"

namespace ipsetter {

// The screen, window placement and program start of the real system. StartKeyboard is virtual so
// that a test build can record the start instead.
class Win32Platform : public Platform {
 public:
  double ScreenWidthTwips() const override;
  double ScreenHeightTwips() const override;
  void SetWindowPos(std::intptr_t hwnd,
                    std::intptr_t insert_after,
                    std::int32_t x,
                    std::int32_t y,
                    std::int32_t cx,
                    std::int32_t cy,
                    std::int32_t flags) override;
  // Starts System32\osk.exe; throws ManagementError when it cannot.
  void StartKeyboard() override;
  bool RunsInThisSession(std::uint32_t process_id) const override;
  // Whether a high-contrast theme is on; virtual so that a test build can show one under Wine,
  // which cannot switch it on.
  virtual bool HighContrast() const;
  // The screen is measured in twips at this DPI, the window's, so that centring compares like with
  // like; without one, at the system DPI.
  void SetDpiSource(std::function<int()> dpi) { dpi_ = std::move(dpi); }

 protected:
  // The road through the desktop's shell; virtual so that a check can take it away, as a kiosk
  // without Explorer does, and see the start that remains.
  virtual bool StartAsDesktopUser(const std::wstring& path, const std::wstring& folder) const;

 private:
  int Dpi() const;
  std::function<int()> dpi_;
};

}  // namespace ipsetter
