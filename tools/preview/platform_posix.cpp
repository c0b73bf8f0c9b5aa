// The tool's operating-system services on Linux (see platform.h).
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace preview::platform {
namespace {

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void CatchSignal(int signal) { caughtSignal = signal; }

}  // namespace

const char* const kModuleFile = "libVeilshift.so";
const bool kCaseInsensitivePaths = false;

int ProcessId() { return static_cast<int>(getpid()); }

bool ProcessRunning(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::string MoveIntoPlace(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return {};
    return std::strerror(errno);
}

std::string CanWriteInto(const std::string& folder) {
    if (access(folder.c_str(), W_OK | X_OK) == 0) return {};
    return std::strerror(errno);
}

void InstallInterruptHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = CatchSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return caughtSignal != 0; }
int InterruptSignal() { return caughtSignal; }
void InterruptHandled() {}

std::string ModuleText(const std::string& text) { return text; }
void PrepareConsole() {}

bool ErrorStreamIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int TerminalColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace preview::platform
