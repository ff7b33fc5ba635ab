#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window_peer.h"

namespace ipsetter::testing {

// An in-memory window and platform with a clock the test advances. Every change is logged in
// order so that tests can assert what was done and when.
class MemoryWindow : public WindowPeer, public Platform {
 public:
  MemoryWindow();

  // WindowPeer
  std::wstring Title() const override { return title; }
  void SetTitle(const std::wstring& t) override;
  void Show() override;
  void Hide() override;
  double OuterWidthTwips() const override { return outer_width; }
  double OuterHeightTwips() const override { return outer_height; }
  void SetLeftTwips(double l) override;
  void SetTopTwips(double t) override;
  std::intptr_t Handle() const override { return 0x1234; }
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

  // Platform
  double ScreenWidthTwips() const override { return screen_width; }
  double ScreenHeightTwips() const override { return screen_height; }
  void SetWindowPos(std::intptr_t hwnd,
                    std::intptr_t insert_after,
                    std::int32_t x,
                    std::int32_t y,
                    std::int32_t cx,
                    std::int32_t cy,
                    std::int32_t flags) override;
  void StartKeyboard() override;
  bool RunsInThisSession(std::uint32_t process_id) const override { return in_this_session(process_id); }

  // Moves the clock on, delivering every tick that falls due to on_tick.
  void Advance(unsigned ms);
  // Ticks until on_tick has run n times (or the timer stops); returns the ticks delivered.
  int Ticks(int n);
  // Enabled states of the ten input controls, in locking order, as a string of 0/1.
  std::string InputStates() const;

  std::function<void()> on_tick;
  std::function<void()> on_start_keyboard;
  std::function<bool(std::uint32_t)> in_this_session = [](std::uint32_t) { return true; };

  std::wstring title;
  bool visible = false;
  bool destroyed = false;
  double left = 0, top = 0;
  double outer_width = 4545, outer_height = 3390;
  double screen_width = 15360, screen_height = 11520;
  ControlId focus = ControlId::txtIp;
  std::map<ControlId, std::wstring> texts;
  std::map<ControlId, bool> enabled;
  std::map<ControlId, int> checks;
  std::vector<std::wstring> log;
  std::vector<std::wstring> announced;

  unsigned long long now_ms = 0;
  bool timer_running = false;
  unsigned timer_interval = 0;
  unsigned long long timer_due = 0;
};

}  // namespace ipsetter::testing
