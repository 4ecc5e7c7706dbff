// The progress and summary lines of an unattended run. A technician replaying an answer file on
// thirty machines sees on standard error, unless --quiet:
//
//   nuvel-setup: installing 003MUL50 (English Foundations, Level 3)
//   nuvel-setup: 003MUL50: 10%            (every tenth of each copy or download, as it passes)
//   nuvel-setup: updating 001MUL50 (English Foundations, Level 1)
//   nuvel-setup: removed 010ENG50
//   nuvel-setup: summary: installed 1 (003MUL50), updated 1 (001MUL50), removed 1 (010ENG50),
//                failed 0; log /opt/Nuvel/Nuvel_log.txt; exit status 0
//
// (the summary is one line). A course counts as installed or updated once everything of it is
// in place, as removed once its folders are gone, and as failed when it was started and not
// finished by the end of the run; the log is "(none)" when there is none (a run that removed the
// whole installation removed it). Interactive runs print none of this: the dialogs show it.
#pragma once

#include <string>
#include <vector>

namespace nuvel::ui {

struct RunReportState {
  // What this run did, by course folder, in the order it happened.
  std::vector<std::string> installed, updated, removed, failed;
  // Courses started and not yet finished: folder, and whether it was an update.
  std::vector<std::pair<std::string, bool>> started;
  std::string current;  // the course whose copies the progress lines name
  int last_tenth = -1;  // the last tenth of the copy under way reported, -1 before its start
  bool summarized = false;

  void reset() { *this = RunReportState{}; }
};

RunReportState& RunReport();

/// Turns the lines on (an answer file without --quiet) or off. Set before the run starts; a new
/// run keeps it.
void EnableRunReport(bool on);
bool RunReportEnabled();

/// A course's installation (or update) begins: one line, and the progress lines that follow
/// name it.
void ReportCourseStarted(const std::string& folder, const std::string& name, bool update);
/// Everything of a course started earlier is in place.
void ReportCourseFinished(const std::string& folder);
/// A course started earlier did not complete (a failed copy, a stop).
void ReportCourseFailed(const std::string& folder);
/// A course's folders were removed.
void ReportCourseRemoved(const std::string& folder);

/// The copy or download under way reached `fraction` (0..1): a line each time it passes a tenth,
/// "003MUL50: 40% (Multimedia Content)", the part of the course in parentheses when `phase` (the
/// status box's group label) names one.
void ReportProgress(double fraction, const std::string& phase = "");
/// The copy or download under way ended; the next one starts counting from 0.
void ReportProgressEnded();

/// The summary line (without a line end): courses started but not finished count as failed.
std::string RunSummaryLine(int exit_status, const std::string& log_path);
/// Writes the summary line once per run, when the lines are on.
void PrintRunSummary(int exit_status);

}  // namespace nuvel::ui
