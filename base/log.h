// The main log "Nuvel_log.txt" in the local system folder, and the auxiliary logs.
//
// Every line is appended and flushed at once (the file is never held open), numbered from 1 in
// each run after a 7-line banner, and prefixed with the time and a level marker. Levels run from
// 0 (always) to 5 (most detailed); the level in force comes from records.ini's log_level. The
// file is halved (keeping the newer half) when it grows past log_rollover_size, and always past
// 100,000,000 bytes.
//
// Lines logged before the log is set up are held (up to kMaxHeldLines) and written right after
// the run banner, so that every log names the version that ran; they are dropped when no log
// folder can be found.
//
// Every user appends to the one log of the system folder, where anyone can put entries. A link
// in the log's place is never written through (platform::AppendToFile refuses it): the run
// says so once on standard error and goes on without a log.
#pragma once

#include <string>
#include <vector>

namespace nuvel::base {

struct LogState {
  std::string logname;               // full path; empty: not set up, nothing is written
  int nuvel_log_level = 0;           // highest level written; -999 switches logging off
  long log_rollover_size = 2000000;  // halve above this size; -1: only the hard limit
  long logCounter = 0;               // number of the last line; numbers print when positive
  int Write_log_on_USB_drive = 0;
  bool created = false;              // the file's existence was ensured in this run
  bool set_up = false;               // GetLogName ran in this run
  int fromInternet = 0;              // the quit came from the Internet layer
  std::vector<std::pair<int, std::string>> held;  // lines logged before set-up

  void reset() { *this = LogState{}; }
};

inline constexpr long kLogHardLimit = 100000000;
inline constexpr int kLogOff = -999;
inline constexpr std::size_t kMaxHeldLines = 200;

LogState& Log();

/// Sets up the main log for this run: finds its folder, reads log_level and log_rollover_size
/// from records.ini (writing log_level=3 when it is missing) and writes the run banner.
void GetLogName();

/// Formats (at most 2,047 bytes) and writes one line; nothing while the log is not set up.
int WriteLogf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// Writes one line of plain text. 1 when written, 0 otherwise.
int WriteLog(int level, const std::string& text);

/// Keeps the newer half of the main log; the line at the cut is dropped, every later line is
/// kept exactly once.
void DiscardTopHalfofLogFile();

/// Switches logging off for the rest of the run.
void StopLogging();

/// Copies a text file into the main log at level 1, framed by empty lines and its path.
void AddOnToNuvelLog(const std::string& path);

/// Ends the run: the first call sets quitFlag and logs who asked; later calls do nothing.
/// `reason` "NORM" is a normal quit; any other reason is logged as an error and raises the
/// level to 5.
void SetQuitFlag(const char* source, long line, const char* reason);

/// Auxiliary logs: "AdminLog.txt" and "SyncLog.txt" in the records folder, "DebugLog.txt" in
/// the installation folder, and standard error. Each returns 1 when the line was written.
int WriteAdminLog(const std::string& text);
int WriteSyncLog(const std::string& text);
int WriteDebugLog(const std::string& text);
int WriteConsolef(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nuvel::base
