// The tool's operating-system services on Linux (see platform.h).
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

// A terminal program here is never handed a console of its own: nothing to keep open.
bool OwnsConsole() { return false; }
void WaitForKey(const char*) {}

std::vector<std::string> GalleryParents() {
    std::vector<std::string> parents;
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        const std::string program(path, static_cast<size_t>(length));
        parents.push_back(program.substr(0, program.find_last_of('/')));
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        parents.push_back(std::string(home) + "/Pictures");
    return parents;
}

NewFolder MakeNewFolder(const std::string& folder, std::string& reason) {
    if (mkdir(folder.c_str(), 0777) == 0) return NewFolder::Made;
    if (errno == EEXIST) return NewFolder::Exists;
    reason = std::strerror(errno);
    return NewFolder::Failed;
}

std::string OpenInBrowser(const std::string&) { return "opening a browser is done only on Windows"; }

}  // namespace preview::platform
