// A port (engine/UserPort.h) that records what a pass reports instead of
// showing it: every progress report in order, answered "go on" unless the
// test's goOn says otherwise. Questions go to ShowUpdaterMessage, so a
// SeamRecorder sees and answers them as the real dialog's would be.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/UserPort.h"
#include "system/MessageBoxes.h"

namespace vrtest {

struct ProgressReport {
  int32_t done;
  int32_t total;
  std::string text;
  bool hasText;  // false: a report without a status line
};

class RecordingPort : public UserPort {
 public:
  std::vector<ProgressReport> reports;
  // Asked for every report; false stops the pass.
  std::function<bool(const ProgressReport&)> goOn;

  int Ask(Message message) override { return ShowUpdaterMessage(message); }
  bool ReportProgress(int32_t done, int32_t total, const char* text) override {
    reports.push_back({done, total, text ? text : "", text != nullptr});
    return !goOn || goOn(reports.back());
  }
  void SetStatusText(const char*) override {}
  void ClearProgress() override {}
  void EnableButtons(bool) override {}
  void EnableCloseOnly() override {}
  void ShowWaitWindow() override {}
  void DestroyWaitWindow() override {}
  void HoldOffShutdown(bool) override {}
  void Repaint() override {}
  void Close() override {}
};

}  // namespace vrtest
