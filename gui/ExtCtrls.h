// The timer component: an interval, an enabled flag and a tick handler, ticking through window messages on the
// thread that created it.
#pragma once

#include <memory>

#include "gui/Controls.h"
#include "rtl/Classes.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  // While enabled with a non-zero interval and a handler, a system timer runs. Setting Enabled, Interval or OnTimer
  // to a new value restarts the count from zero or stops it; setting the value it already has does nothing. When
  // the system has no timer left, the setter raises EOutOfResources "Not enough timers available" and the timer
  // stays stopped.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned interval);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent handler);

  // Whether a system timer is counting now.
  bool Running() const { return running_; }

 protected:
  // One tick: runs OnTimer. An exception leaving it is reported by the default handler and ticking goes on.
  virtual void Timer();

 private:
  static constexpr UINT_PTR kTimerId = 1;
  void UpdateTimer();
  LRESULT HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  bool enabled_ = true;
  unsigned interval_ = 1000;
  TNotifyEvent onTimer_;
  bool running_ = false;
  std::unique_ptr<TUtilWindow> window_;
};
