// The controlling terminal, for the terminal user interface: whether standard input and output
// are terminals, its width, and line input with or without echo. Text goes to standard output
// through stdio, so it keeps its order with everything else the program prints there.
#pragma once

#include <string>
#include <string_view>

namespace nuvel::platform {

/// True when standard input / standard output is a terminal.
bool StdinIsTerminal();
bool StdoutIsTerminal();

/// True when the environment names a graphical display (DISPLAY or WAYLAND_DISPLAY).
bool DisplayAvailable();

/// The width of the terminal on standard output in columns; 80 when it cannot be told.
int TerminalColumns();

/// Reads one line from standard input, without its line end (a CR before the LF is dropped
/// too). With `echo` false the terminal does not show what is typed (passwords); the echo comes
/// back before the function returns, and at exit should the process end in between. False at the
/// end of input, on a read error, or when a signal interrupts the read (the caller treats it as
/// the user closing the question).
bool ReadTerminalLine(std::string& line, bool echo);

/// Gives the terminal its echo back should a read without echo be under way. Safe to call from
/// a signal handler and before an immediate exit.
void RestoreTerminal();

/// Writes text to standard output and flushes it.
void WriteTerminal(std::string_view text);

}  // namespace nuvel::platform
