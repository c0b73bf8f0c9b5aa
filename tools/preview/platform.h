// What the tool asks of the operating system, in one place: platform_posix.cpp
// answers on Linux, platform_win32.cpp on Windows. Everything else in the tool
// is the same source on both.
#pragma once

#include <string>
#include <vector>

namespace preview::platform {

// The file the module is loaded from, for messages ("libVeilshift.so").
extern const char* const kModuleFile;
// Whether two spellings that differ only in letter case name the same file.
extern const bool kCaseInsensitivePaths;

int ProcessId();
// False once no process with this id runs any more.
bool ProcessRunning(int pid);

// Renames `from` to `to`, replacing a file already at `to`. Empty on success,
// else the system's reason.
std::string MoveIntoPlace(const std::string& from, const std::string& to);
// Whether this process may create files in `folder`. Empty when it may, else
// the system's reason.
std::string CanWriteInto(const std::string& folder);

// Ctrl+C and its kin (SIGINT, SIGTERM, SIGHUP; the console's Ctrl+C, Ctrl+Break
// and close) set a flag once InstallInterruptHandlers has run, so that the work
// loops can stop and clean up instead of dying with files half written.
// InterruptSignal is the number the exit status adds to 128.
void InstallInterruptHandlers();
bool Interrupted();
int InterruptSignal();
// Called once the clean-up after an interruption is over: a console that is
// being closed waits for it before it ends the process.
void InterruptHandled();

// The module's message text as the tool prints it (UTF-8): on Windows the
// module writes Shift-JIS, elsewhere UTF-8 already.
std::string ModuleText(const std::string& text);
// Makes a console show the tool's UTF-8 output as such (Windows).
void PrepareConsole();

// Standard error is a terminal that understands "\r" and "ESC [ K"; its width
// in columns (0 when unknown).
bool ErrorStreamIsTerminal();
int TerminalColumns();

// Started from Explorer: this process is the only one on its console, which
// then closes as soon as the program ends (a command prompt or a script shares
// its console with the tool; under ctest there is none).
bool OwnsConsole();
// Shows `prompt` and waits for a key, when standard input is the console.
void WaitForKey(const char* prompt);
// Where a gallery made by a double-click may go, in order: the program's own
// folder, then the user's Pictures folder. Paths the tool cannot spell are left out.
std::vector<std::string> GalleryParents();
enum class NewFolder { Made, Exists, Failed };
// Creates `folder` (its parent must exist); on failure `reason` says why.
NewFolder MakeNewFolder(const std::string& folder, std::string& reason);
// Asks the system to open `file` (the gallery page) in the default browser.
// Empty on success, else the reason. With VEILSHIFT_PREVIEW_OPEN_RECORD set,
// the request is appended to that file ("open" and the full path, one line)
// instead, so that tests see it without a browser.
std::string OpenInBrowser(const std::string& file);

}  // namespace preview::platform
