// The abstract controls the form works on, and the two rules every implementation shares: the
// check box's click on a change of value and the timer's ticks.
#pragma once

#include <functional>
#include <string>

#include "window_peer.h"

namespace ipsetter {

// Controls as the window's logic sees them. Each forwards to its peer; the check box and the
// timer also carry the event rules that every implementation must share.

class TextBox {
 public:
  TextBox(WindowPeer& peer, ControlId id) : peer_(peer), id_(id) {}
  std::wstring Text() const { return peer_.Text(id_); }
  void SetText(const std::wstring& text) { peer_.SetText(id_, text); }
  bool Enabled() const { return peer_.Enabled(id_); }
  void SetEnabled(bool on) { peer_.SetEnabled(id_, on); }
  void SetFocus() { peer_.Focus(id_); }
  ControlId id() const { return id_; }

 protected:
  WindowPeer& peer_;
  ControlId id_;
};

// The status line: its new texts are announced, since no one ever gives it the focus.
class StatusLine : public TextBox {
 public:
  using TextBox::TextBox;
  void SetText(const std::wstring& text);
};

class Label {
 public:
  Label(WindowPeer& peer, ControlId id) : peer_(peer), id_(id) {}
  std::wstring Caption() const { return peer_.Text(id_); }
  void SetCaption(const std::wstring& caption) { peer_.SetText(id_, caption); }

 private:
  WindowPeer& peer_;
  ControlId id_;
};

class CommandButton {
 public:
  CommandButton(WindowPeer& peer, ControlId id) : peer_(peer), id_(id) {}
  bool Enabled() const { return peer_.Enabled(id_); }
  void SetEnabled(bool on) { peer_.SetEnabled(id_, on); }

 private:
  WindowPeer& peer_;
  ControlId id_;
};

// Value 0 unchecked, 1 checked, 2 grey. Its click handler runs synchronously on every change of
// value, by the user or by the program, enabled or not; assigning the same value runs nothing.
class CheckBox {
 public:
  CheckBox(WindowPeer& peer, ControlId id) : peer_(peer), id_(id) {}
  int Value() const { return value_; }
  void SetValue(int value);
  bool Enabled() const { return peer_.Enabled(id_); }
  void SetEnabled(bool on) { peer_.SetEnabled(id_, on); }

  std::function<void()> on_click;

 private:
  WindowPeer& peer_;
  ControlId id_;
  int value_ = 0;
};

// A tick each interval, counted from the last switch-on or interval change; switched off or
// with interval 0 it gives none.
class Timer {
 public:
  Timer(WindowPeer& peer, ControlId id) : peer_(peer), id_(id) {}
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned interval_ms);
  bool Ticking() const { return enabled_ && interval_ > 0; }

 private:
  void Reschedule();

  WindowPeer& peer_;
  ControlId id_;
  bool enabled_ = false;
  unsigned interval_ = 0;
};

}  // namespace ipsetter
