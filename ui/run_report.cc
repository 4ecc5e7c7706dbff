#include "ui/run_report.h"

#include <algorithm>
#include <cstdio>

#include "base/log.h"
#include "platform/files.h"
#include "platform/run_reset.h"

namespace nuvel::ui {
namespace {

// Not run state: the command line sets it once for the process.
bool& Enabled() {
  static bool enabled = false;
  return enabled;
}

void Line(const std::string& text) {
  if (!Enabled()) return;
  std::fputs(("nuvel-setup: " + text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// "1 (003MUL50)", "2 (001MUL50, 003MUL50)", "0".
std::string Counted(const std::vector<std::string>& folders) {
  std::string text = std::to_string(folders.size());
  for (std::size_t i = 0; i < folders.size(); ++i) {
    text += (i ? ", " : " (") + folders[i];
  }
  return folders.empty() ? text : text + ")";
}

}  // namespace

RunReportState& RunReport() {
  static RunReportState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("ui::RunReport", [] { state.reset(); });
  return state;
}

void EnableRunReport(bool on) { Enabled() = on; }
bool RunReportEnabled() { return Enabled(); }

void ReportCourseStarted(const std::string& folder, const std::string& name, bool update) {
  RunReportState& report = RunReport();
  auto same = [&](const auto& entry) { return entry.first == folder; };
  std::erase_if(report.started, same);
  report.started.emplace_back(folder, update);
  report.current = folder;
  report.last_tenth = -1;
  Line(std::string(update ? "updating " : "installing ") + folder +
       (name.empty() ? "" : " (" + name + ")"));
}

void ReportCourseFinished(const std::string& folder) {
  RunReportState& report = RunReport();
  auto entry = std::find_if(report.started.begin(), report.started.end(),
                            [&](const auto& e) { return e.first == folder; });
  if (entry == report.started.end()) return;
  auto& list = entry->second ? report.updated : report.installed;
  if (std::find(list.begin(), list.end(), folder) == list.end()) list.push_back(folder);
  std::erase(report.failed, folder);
  report.started.erase(entry);
}

void ReportCourseFailed(const std::string& folder) {
  RunReportState& report = RunReport();
  std::erase_if(report.started, [&](const auto& e) { return e.first == folder; });
  if (std::find(report.failed.begin(), report.failed.end(), folder) == report.failed.end()) {
    report.failed.push_back(folder);
  }
}

void ReportCourseRemoved(const std::string& folder) {
  RunReport().removed.push_back(folder);
  Line("removed " + folder);
}

void ReportProgress(double fraction, const std::string& phase) {
  RunReportState& report = RunReport();
  int tenth = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 10.0 + 1e-9);
  // A copy starts from 0; each tenth it passes is reported once.
  if (report.last_tenth < 0) report.last_tenth = 0;
  if (tenth <= report.last_tenth) return;
  report.last_tenth = tenth;
  // The status box's group label ("Startup Files:", "Multimedia Content:") tells the copies of
  // one course apart; each runs from 10% to 100%.
  std::string label = phase;
  while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
  Line((report.current.empty() ? std::string("copying") : report.current) + ": " +
       std::to_string(tenth * 10) + "%" + (label.empty() ? "" : " (" + label + ")"));
}

void ReportProgressEnded() { RunReport().last_tenth = -1; }

std::string RunSummaryLine(int exit_status, const std::string& log_path) {
  const RunReportState& report = RunReport();
  std::vector<std::string> failed = report.failed;
  for (const auto& [folder, update] : report.started) failed.push_back(folder);
  return "summary: installed " + Counted(report.installed) + ", updated " +
         Counted(report.updated) + ", removed " + Counted(report.removed) + ", failed " +
         Counted(failed) + "; log " + (log_path.empty() ? std::string("(none)") : log_path) +
         "; exit status " + std::to_string(exit_status);
}

void PrintRunSummary(int exit_status) {
  RunReportState& report = RunReport();
  if (!Enabled() || report.summarized) return;
  report.summarized = true;
  // A run that removed the whole installation removed its log too.
  const std::string& log = base::Log().logname;
  Line(RunSummaryLine(exit_status, !log.empty() && platform::Exists(log) ? log : ""));
}

}  // namespace nuvel::ui
