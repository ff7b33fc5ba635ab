// The check box and timer rules, written once for every implementation of the controls.
#include "controls.h"

namespace ipsetter {

void StatusLine::SetText(const std::wstring& text) {
  const bool news = !text.empty() && text != peer_.Text(id_);
  peer_.SetText(id_, text);
  if (news)
    peer_.Announce(text);
}

void CheckBox::SetValue(int value) {
  if (value == value_)
    return;
  value_ = value;
  peer_.ShowCheck(id_, value);
  if (on_click)
    on_click();
}

void Timer::SetEnabled(bool on) {
  // Switching on a running timer is no new start.
  if (on == enabled_)
    return;
  enabled_ = on;
  Reschedule();
}

void Timer::SetInterval(unsigned interval_ms) {
  interval_ = interval_ms;
  Reschedule();
}

void Timer::Reschedule() {
  if (Ticking())
    peer_.StartTimer(id_, interval_);
  else
    peer_.StopTimer(id_);
}

}  // namespace ipsetter
