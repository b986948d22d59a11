#include "gui/ExtCtrls.h"

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  window_ = std::make_unique<TUtilWindow>([this](HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMessage(window, msg, wParam, lParam);
  });
}

TTimer::~TTimer() {
  if (running_) KillTimer(window_->Handle(), kTimerId);
  running_ = false;
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned interval) {
  if (interval == interval_) return;
  interval_ = interval;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  HWND window = window_->Handle();
  if (running_) KillTimer(window, kTimerId);
  running_ = false;
  if (interval_ != 0 && enabled_ && onTimer_) {
    if (SetTimer(window, kTimerId, interval_, nullptr) == 0) throw EOutOfResources(kSNoTimers);
    running_ = true;
  }
}

LRESULT TTimer::HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kTimerId) {
    try {
      Timer();
    } catch (...) {
      // The tick came from the message loop; the exception must not cross the window procedure.
      HandleCallbackException(this);
    }
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

void TTimer::Timer() {
  // A copy: the handler may replace itself.
  TNotifyEvent handler = onTimer_;
  if (handler) handler(this);
}
