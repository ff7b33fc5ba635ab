#include "memory_window.h"

#include <string>

namespace ipsetter::testing {

namespace {
std::wstring Id(ControlId id) {
  return std::to_wstring(static_cast<int>(id));
}
}  // namespace

MemoryWindow::MemoryWindow() {
  for (int id = 101; id <= 120; ++id)
    enabled[static_cast<ControlId>(id)] = true;
}

void MemoryWindow::SetTitle(const std::wstring& t) {
  title = t;
  log.push_back(L"title " + t);
}

void MemoryWindow::Show() {
  visible = true;
  log.push_back(L"show");
}

void MemoryWindow::Hide() {
  visible = false;
  log.push_back(L"hide");
}

void MemoryWindow::SetLeftTwips(double l) {
  left = l;
  log.push_back(L"left " + std::to_wstring(l));
}

void MemoryWindow::SetTopTwips(double t) {
  top = t;
  log.push_back(L"top " + std::to_wstring(t));
}

void MemoryWindow::Destroy() {
  destroyed = true;
  visible = false;
  log.push_back(L"destroy");
}

std::wstring MemoryWindow::Text(ControlId id) const {
  const auto it = texts.find(id);
  return it == texts.end() ? std::wstring() : it->second;
}

void MemoryWindow::SetText(ControlId id, const std::wstring& text) {
  texts[id] = text;
  log.push_back(L"text " + Id(id) + L" " + text);
}

bool MemoryWindow::Enabled(ControlId id) const {
  return enabled.at(id);
}

void MemoryWindow::SetEnabled(ControlId id, bool on) {
  enabled[id] = on;
  log.push_back(std::wstring(on ? L"on " : L"off ") + Id(id));
}

void MemoryWindow::ShowCheck(ControlId id, int value) {
  checks[id] = value;
  log.push_back(L"check " + Id(id) + L" " + std::to_wstring(value));
}

void MemoryWindow::Focus(ControlId id) {
  focus = id;
  log.push_back(L"focus " + Id(id));
}

void MemoryWindow::StartTimer(ControlId, unsigned interval_ms) {
  timer_running = true;
  timer_interval = interval_ms;
  timer_due = now_ms + interval_ms;
  log.push_back(L"timer start " + std::to_wstring(interval_ms));
}

void MemoryWindow::StopTimer(ControlId) {
  timer_running = false;
  log.push_back(L"timer stop");
}

void MemoryWindow::Announce(const std::wstring& text) {
  announced.push_back(text);
  log.push_back(L"announce " + text);
}

void MemoryWindow::SetWindowPos(std::intptr_t hwnd,
                                std::intptr_t insert_after,
                                std::int32_t x,
                                std::int32_t y,
                                std::int32_t cx,
                                std::int32_t cy,
                                std::int32_t flags) {
  log.push_back(L"SetWindowPos " + std::to_wstring(hwnd) + L" " + std::to_wstring(insert_after) + L" " +
                std::to_wstring(x) + L" " + std::to_wstring(y) + L" " + std::to_wstring(cx) + L" " +
                std::to_wstring(cy) + L" " + std::to_wstring(flags));
}

void MemoryWindow::StartKeyboard() {
  log.push_back(L"start keyboard");
  if (on_start_keyboard)
    on_start_keyboard();
}

void MemoryWindow::Advance(unsigned ms) {
  const unsigned long long end = now_ms + ms;
  while (timer_running && timer_due <= end) {
    now_ms = timer_due;
    timer_due += timer_interval;
    if (on_tick)
      on_tick();
  }
  now_ms = end;
}

int MemoryWindow::Ticks(int n) {
  int delivered = 0;
  while (delivered < n && timer_running) {
    now_ms = timer_due;
    timer_due += timer_interval;
    ++delivered;
    if (on_tick)
      on_tick();
  }
  return delivered;
}

std::string MemoryWindow::InputStates() const {
  static const ControlId order[] = {ControlId::txtIp,      ControlId::txtSubnet,  ControlId::txtGateway,
                                    ControlId::txtDns1,    ControlId::txtDns2,    ControlId::chkStatic,
                                    ControlId::cmdApply,   ControlId::cmdRefresh, ControlId::cmdExit,
                                    ControlId::cmdKeyboard};
  std::string s;
  for (ControlId id : order)
    s += enabled.at(id) ? '1' : '0';
  return s;
}

}  // namespace ipsetter::testing
