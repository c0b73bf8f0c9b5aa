// The tool's operating-system services on Windows (see platform.h).
#include <windows.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>

#include "Veilshift/platform/platform.h"
#include "platform.h"

namespace preview::platform {
namespace {

std::atomic<int> caughtSignal{0};
HANDLE cleanedUp = nullptr;  // set once the tool has cleaned up after an interruption

// Runs on a thread of its own. Ctrl+C and Ctrl+Break only ask the work loops to
// stop; for a closing console, logoff or shutdown the process ends when this
// returns, so it waits (a few seconds at most) for the clean-up first.
BOOL WINAPI CatchConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT: caughtSignal = SIGINT; return TRUE;
        case CTRL_BREAK_EVENT: caughtSignal = SIGBREAK; return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            caughtSignal = SIGTERM;
            if (cleanedUp != nullptr) WaitForSingleObject(cleanedUp, 4000);
            return TRUE;
        default: return FALSE;
    }
}

std::string SystemMessage(DWORD code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) --length;
    if (length == 0) return "error " + std::to_string(code);
    return std::string(text, length);
}

HANDLE ErrorStream() { return GetStdHandle(STD_ERROR_HANDLE); }

// The module's registry key, and where the tool keeps its private copy of it.
using veilshift::platform::kStartupKeyPath;
constexpr char kPrivateParent[] = "Software\\Veilshift preview tool";

struct SwitchState {
    std::string privatePath;  // under HKEY_CURRENT_USER
    HKEY root = nullptr;
    bool overridden = false;
};

}  // namespace

const char* const kModuleFile = "Veilshift.dll";
const bool kCaseInsensitivePaths = true;

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool ProcessRunning(int pid) {
    if (pid <= 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's, still there
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::string MoveIntoPlace(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return SystemMessage(GetLastError());
}

std::string CanWriteInto(const std::string& folder) {
    if (_access(folder.c_str(), 2) == 0) return {};
    return std::strerror(errno);
}

void InstallInterruptHandlers() {
    if (cleanedUp == nullptr) cleanedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(CatchConsoleEvent, TRUE);
}

bool Interrupted() { return caughtSignal != 0; }
int InterruptSignal() { return caughtSignal; }

void InterruptHandled() {
    if (cleanedUp != nullptr) SetEvent(cleanedUp);
}

std::string ModuleText(const std::string& text) {
    constexpr UINT kShiftJis = 932;
    if (text.empty()) return text;
    const int wide = MultiByteToWideChar(kShiftJis, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return text;
    std::wstring utf16(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(kShiftJis, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

namespace {
// The console's own code page returns when the tool ends.
UINT consoleCodePage = 0;
void RestoreConsole() {
    if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}
}  // namespace

void PrepareConsole() {
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage == 0 || consoleCodePage == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    std::atexit(RestoreConsole);
}

bool ErrorStreamIsTerminal() {
    DWORD mode = 0;
    if (!GetConsoleMode(ErrorStream(), &mode)) return false;
    // The bar moves the cursor with escape sequences, which older consoles print as they are.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(ErrorStream(), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(ErrorStream(), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The module opens HKEY_CURRENT_USER\Software\Quillmoor\Tessary\Startup. For
// as long as this object lives, HKEY_CURRENT_USER means this process's private
// key (RegOverridePredefKey), holding a copy of that key with the switches the
// form needs; the private key is deleted afterwards.
StartupSwitches::StartupSwitches(const std::string& form) {
    auto* state = new SwitchState;
    state_ = state;
    state->privatePath = std::string(kPrivateParent) + "\\" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, state->privatePath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &state->root, nullptr) != ERROR_SUCCESS) {
        state->root = nullptr;
        return;
    }
    HKEY startup = nullptr;
    if (RegCreateKeyExA(state->root, kStartupKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &startup, nullptr) == ERROR_SUCCESS) {
        auto set = [startup](const char* name, DWORD value) {
            RegSetValueExA(startup, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        };
        if (form == "scalar") {
            set("MMX", 0);
            set("SSE", 0);
        } else if (form == "mmx") {
            set("MMX", 1);
            set("SSE", 0);
        } else if (form == "sse") {
            set("MMX", 1);
            set("SSE", 1);
        }
        RegCloseKey(startup);
    }
    state->overridden = RegOverridePredefKey(HKEY_CURRENT_USER, state->root) == ERROR_SUCCESS;
}

bool StartupSwitches::InForce() const { return static_cast<const SwitchState*>(state_)->overridden; }

StartupSwitches::~StartupSwitches() {
    auto* state = static_cast<SwitchState*>(state_);
    if (state->overridden) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (state->root != nullptr) {
        RegCloseKey(state->root);
        RegDeleteTreeA(HKEY_CURRENT_USER, state->privatePath.c_str());
        // The parent goes too once no other run of the tool holds a key there.
        HKEY parent = nullptr;
        DWORD subkeys = 1, values = 1;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPrivateParent, 0, KEY_READ, &parent) == ERROR_SUCCESS) {
            RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(parent);
            if (subkeys == 0 && values == 0) RegDeleteKeyA(HKEY_CURRENT_USER, kPrivateParent);
        }
    }
    delete state;
}

}  // namespace preview::platform
