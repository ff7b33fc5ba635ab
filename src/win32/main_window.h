// The window class: messages in, the form's requests out, focus, the controls' peer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "accessibility.h"
#include "child_controls.h"
#include "dpi.h"
#include "frm_ipsetter.h"
#include "layout.h"
#include "window_peer.h"
#include "window_resources.h"

namespace ipsetter::win32 {

inline constexpr wchar_t kWindowClassName[] = L"frmIpsetter";

// The one window on real HWNDs. It turns window messages into the form's On* calls and the
// form's requests into window calls; the logic stays in core. Its controls, what it draws with and
// its frame live in rooms of their own.
class MainWindow final : public WindowPeer {
 public:
  // The DPI functions are the system's unless a check takes them away, as Windows 7 has none.
  explicit MainWindow(HINSTANCE instance, const DpiFunctions& dpi_functions = DpiFunctions::OfSystem());
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window hidden, with all its controls, at the DPI of where it is created.
  bool Create();
  // Events go to this form from now on; nullptr stops them.
  void SetForm(frmIpsetter* form) { form_ = form; }
  // Call once the window is topmost: Wine will not make a window topmost that owns a popup.
  void CreateTooltips() { controls_.CreateTooltips(hwnd_, instance_); }
  // Labels no one sees that name the boxes for screen readers (ChildControls).
  void CreateHiddenLabels() { controls_.CreateHiddenLabels(hwnd_, instance_); }
  HWND hwnd() const { return hwnd_; }
  int Dpi() const;
  // Where the window learns whether a high-contrast theme is on; the system's setting unless a
  // test says otherwise. Asked at creation and whenever the system's colours change.
  void SetHighContrastSource(std::function<bool()> source) { high_contrast_source_ = std::move(source); }
  bool HighContrast() const { return high_contrast_; }

  // WindowPeer
  std::wstring Title() const override;
  void SetTitle(const std::wstring& title) override;
  void Show() override;
  void Hide() override;
  double OuterWidthTwips() const override;
  double OuterHeightTwips() const override;
  void SetLeftTwips(double left) override;
  void SetTopTwips(double top) override;
  std::intptr_t Handle() const override;
  void Destroy() override;
  std::wstring Text(ControlId id) const override;
  void SetText(ControlId id, const std::wstring& text) override;
  bool Enabled(ControlId id) const override;
  void SetEnabled(ControlId id, bool enabled) override;
  void ShowCheck(ControlId id, int value) override;
  void Focus(ControlId id) override;
  void StartTimer(ControlId id, unsigned interval_ms) override;
  void StopTimer(ControlId id) override;
  void Announce(const std::wstring& text) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id);
  LRESULT OnControlColour(UINT message, WPARAM wparam, LPARAM lparam);
  bool OnActivate(WPARAM wparam);
  bool RestoreFocus();
  void OnColoursChanged();
  // Places the window's client area and every control for this DPI and sets their fonts.
  void ApplyLayout(int dpi, const RECT* suggested);
  HWND Child(ControlId id) const;

  HINSTANCE instance_;
  DpiFunctions dpi_functions_;
  HWND hwnd_ = nullptr;
  HWND last_focus_ = nullptr;
  HWND refocus_ = nullptr;
  WindowResources resources_;
  ChildControls controls_;
  std::function<bool()> high_contrast_source_ = SystemHighContrast;
  bool high_contrast_ = false;
  Announcer announcer_;
  frmIpsetter* form_ = nullptr;
  bool timer_running_ = false;
  int dpi_ = 96;  // the DPI the window is laid out for
};

}  // namespace ipsetter::win32
