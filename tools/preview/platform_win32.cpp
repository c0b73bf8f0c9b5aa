// The tool's operating-system services on Windows (see platform.h).
#include <windows.h>
#include <io.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>

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

// The tool's narrow strings are in the process's ANSI code page (UTF-8 where
// the manifest's activeCodePage is honoured).
std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// Empty when `wide` has a character the code page cannot spell: such a path
// would name some other file.
std::string Narrow(const std::wstring& wide, UINT codePage = CP_ACP) {
    if (wide.empty()) return {};
    if (codePage == CP_ACP && GetACP() == CP_UTF8) codePage = CP_UTF8;
    BOOL lossy = FALSE;
    const bool exact = codePage != CP_UTF8;
    const int length = WideCharToMultiByte(codePage, exact ? WC_NO_BEST_FIT_CHARS : 0, wide.data(),
                                           static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                           exact ? &lossy : nullptr);
    if (length <= 0 || lossy) return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, exact ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), static_cast<int>(wide.size()),
                        narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring PicturesFolder() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Pictures, KF_FLAG_CREATE, nullptr, &path))) folder = path;
    CoTaskMemFree(path);
    return folder;
}

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

bool OwnsConsole() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey(const char* prompt) {
    std::fflush(stderr);
    std::printf("\n%s\n", prompt);
    std::fflush(stdout);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
}

std::vector<std::string> GalleryParents() {
    std::vector<std::string> parents;
    for (const std::wstring& folder : {ProgramFolder(), PicturesFolder()})
        if (std::string narrow = Narrow(folder); !narrow.empty()) parents.push_back(narrow);
    return parents;
}

NewFolder MakeNewFolder(const std::string& folder, std::string& reason) {
    if (CreateDirectoryW(Wide(folder).c_str(), nullptr)) return NewFolder::Made;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return NewFolder::Exists;
    reason = SystemMessage(error);
    return NewFolder::Failed;
}

std::string OpenInBrowser(const std::string& file) {
    const std::wstring relative = Wide(file);
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0) return SystemMessage(GetLastError());
    full.resize(length);
    if (const char* record = std::getenv("VEILSHIFT_PREVIEW_OPEN_RECORD"); record != nullptr && *record != '\0') {
        std::FILE* out = std::fopen(record, "ab");
        if (out == nullptr) return std::string("cannot write ") + record;
        const std::string line = "open " + Narrow(full, CP_UTF8) + "\n";
        const bool written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
        return std::fclose(out) == 0 && written ? std::string() : std::string("cannot write ") + record;
    }
    // The shell may hand the request to a handler that uses COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", full.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) CoUninitialize();
    if (result > 32) return {};
    return result == SE_ERR_NOASSOC ? "no program is set to open .html files" : SystemMessage(GetLastError());
}

}  // namespace preview::platform
