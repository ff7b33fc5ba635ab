#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "accessibility.h"
#include "frm_ipsetter.h"
#include "layout.h"
#include "window_peer.h"

namespace ipsetter::win32 {

inline constexpr wchar_t kWindowClassName[] = L"frmIpsetter";

// The one window on real HWNDs. It turns window messages into the form's On* calls and the
// form's requests into window calls; the logic stays in core.
class MainWindow final : public WindowPeer {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window hidden, with all its controls, at the DPI of where it is created.
  bool Create();
  // Events go to this form from now on; nullptr stops them.
  void SetForm(frmIpsetter* form) { form_ = form; }
  // Call once the window is topmost: Wine will not make a window topmost that owns a popup.
  void CreateTooltips();
  // Labels no one sees that name the boxes for screen readers. Made, like the tooltips, once the
  // queue first runs dry: they would cost the start about 10 ms under Wine.
  void CreateHiddenLabels();
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
  bool CreateControls(int dpi);
  void OnColoursChanged();
  void ShowKeyboardPicture(int dpi);
  // Places the window's client area and every control for this DPI and sets their fonts.
  void ApplyLayout(int dpi, const RECT* suggested);
  // Sizes the frame so that the client area is the layout's at this DPI.
  void SizeFrame(int dpi, const RECT* suggested);
  HFONT FontFor(const layout::Font& font, int dpi);
  HBRUSH BrushFor(const layout::Colour& colour);
  void ReleaseFonts();
  HWND Child(ControlId id) const;
  // The outer size that gives the layout's client area at this DPI, by the system's metrics.
  static SIZE FrameSize(int dpi);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND last_focus_ = nullptr;
  HWND refocus_ = nullptr;
  // The controls by id, kept at creation: GetDlgItem asks the window server every time.
  static constexpr int kFirstId = static_cast<int>(ControlId::Text1);
  std::array<HWND, static_cast<int>(ControlId::lblIp) - kFirstId + 1> children_{};
  HBITMAP keyboard_bitmap_ = nullptr;
  HBITMAP scaled_keyboard_bitmap_ = nullptr;
  bool hidden_labels_made_ = false;
  HWND sink_label_ = nullptr;  // names the focus sink after the title
  std::function<bool()> high_contrast_source_ = SystemHighContrast;
  bool high_contrast_ = false;
  Announcer announcer_;
  frmIpsetter* form_ = nullptr;
  bool timer_running_ = false;
  int dpi_ = 96;  // the DPI the window is laid out for
  struct CachedFont {
    layout::Font font;
    HFONT handle;
  };
  std::vector<CachedFont> fonts_;
  std::vector<std::pair<COLORREF, HBRUSH>> brushes_;
};

}  // namespace ipsetter::win32
