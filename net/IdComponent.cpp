#include "net/IdComponent.h"

#include "net/IdResourceStrings.h"
#include "net/IdStack.h"

using namespace IdResourceStrings;

const char* IdStatusText(TIdStatus status) {
  switch (status) {
    case stResolving:
      return RSStatusResolving;
    case stConnecting:
      return RSStatusConnecting;
    case stConnected:
      return RSStatusConnected;
    case stDisconnecting:
      return RSStatusDisconnecting;
    case stDisconnected:
      return RSStatusDisconnected;
    default:
      return RSStatusText;
  }
}

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) { IdStackAddInstance(); }

TIdComponent::~TIdComponent() { IdStackRemoveInstance(); }

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument) {
  if (!OnStatus) return;
  // Every text holds at most one "%s"; texts without one ignore the argument.
  OnStatus(this, status, Format(IdStatusText(status), argument.c_str()));
}

void TIdComponent::StartWork(TWorkMode mode, int64_t workCountMax) {
  WorkCounter& work = work_[mode];
  if (++work.level == 1) {
    work.max = workCountMax;
    work.count = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, workCountMax);
  }
}

void TIdComponent::AddWork(TWorkMode mode, int64_t count) {
  WorkCounter& work = work_[mode];
  if (work.level <= 0) return;
  work.count += count;
  if (OnWork) OnWork(this, mode, work.count);
}

void TIdComponent::FinishWork(TWorkMode mode) {
  WorkCounter& work = work_[mode];
  // A finish without a start must not push the level below 0: every later start would then go unannounced.
  if (work.level <= 0) return;
  if (work.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  --work.level;
}
