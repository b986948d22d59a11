// Network component: status reports and progress counting, and the live-component count that keeps the process-wide
// socket stack loaded while any network component exists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/IdBaseComponent.h"

// What a component is doing. Values 6 to 8 have no name of their own and format like stText.
enum TIdStatus : int { stResolving = 0, stConnecting, stConnected, stDisconnecting, stDisconnected, stText };
inline constexpr int kIdStatusCount = 9;

enum TWorkMode : int { wkRead = 0, wkWrite = 1 };

using TIdStatusEvent = std::function<void(TObject* sender, TIdStatus status, const std::string& statusText)>;
using TWorkBeginEvent = std::function<void(TObject* sender, TWorkMode workMode, int64_t workCountMax)>;
using TWorkEndEvent = std::function<void(TObject* sender, TWorkMode workMode)>;
using TWorkEvent = std::function<void(TObject* sender, TWorkMode workMode, int64_t workCount)>;

// The fixed text of a status, before formatting ("%s" for values without a text of their own).
const char* IdStatusText(TIdStatus status);

class TIdComponent : public TIdBaseComponent {
 public:
  // Counts this component as live; the first live component loads and starts the socket stack, whose failures
  // leave here (and leave the count as it was).
  explicit TIdComponent(TComponent* owner);
  // The last live component to go stops and unloads the socket stack.
  ~TIdComponent() override;

  // Calls OnStatus, when assigned, with this component, the status and its text with "%s" replaced by argument.
  void ReportStatus(TIdStatus status, const std::string& argument = std::string());

  // Work counting, per mode. Nested StartWork/FinishWork pairs fire OnWorkBegin and OnWorkEnd only at the outer
  // pair; AddWork outside any StartWork of its mode does nothing.
  virtual void StartWork(TWorkMode mode, int64_t workCountMax);
  virtual void AddWork(TWorkMode mode, int64_t count);
  virtual void FinishWork(TWorkMode mode);

  // The counters as they stand, for progress displays.
  int64_t WorkCount(TWorkMode mode) const { return work_[mode].count; }
  int64_t WorkCountMax(TWorkMode mode) const { return work_[mode].max; }
  int WorkLevel(TWorkMode mode) const { return work_[mode].level; }

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

 private:
  struct WorkCounter {
    int64_t count = 0;
    int64_t max = 0;
    int level = 0;
  };
  WorkCounter work_[2];
};
