#include "host/startup_switches.h"

#include <string>

#include "Veilshift/platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#else
#include <cstdlib>
#endif

namespace refhost {

using veilshift::platform::kStartupKeyPath;
using veilshift::platform::kStartupVariablePrefix;

namespace {
constexpr const char* kValueNames[2] = {"MMX", "SSE"};

const veilshift::StartupValue& ValueOf(const veilshift::StartupValues& values, int i) {
    return i == 0 ? values.mmx : values.sse;
}
}  // namespace

std::optional<veilshift::StartupValues> NamedStartupValues(std::string_view name) {
    if (name == "auto") return veilshift::StartupValues{};
    if (name == "scalar") return SwitchValues(false, false);
    if (name == "mmx") return SwitchValues(true, false);
    if (name == "sse") return SwitchValues(true, true);
    return std::nullopt;
}

#if defined(_WIN32)

namespace {
// Held by every program of ours while it sets the user's key.
constexpr char kUserKeyMutex[] = "VeilshiftTestsStartupSwitches";
// Where the private keys live, one per process (by its id): the preview tool
// takes them, and its README names the place.
constexpr char kPrivateParent[] = "Software\\Veilshift preview tool";

struct SavedValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

SavedValue Save(HKEY key, const char* name) {
    SavedValue saved;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS) return saved;
    saved.data.resize(size);
    saved.present = RegQueryValueExA(key, name, nullptr, &saved.type, saved.data.data(), &size) == ERROR_SUCCESS;
    saved.data.resize(size);
    return saved;
}

bool Set(HKEY key, const char* name, const veilshift::StartupValue& value) {
    if (!value.present) {
        const LSTATUS status = RegDeleteValueA(key, name);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    const DWORD number = value.value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
           ERROR_SUCCESS;
}

bool KeyIsEmpty(HKEY key) {
    DWORD subkeys = 1, values = 1;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}
}  // namespace

struct StartupSwitches::Store {
    SwitchStore kind = SwitchStore::UserKey;
    bool inForce = false;
    // The user's key: the values found, and whether the scope made the key.
    HANDLE mutex = nullptr;
    SavedValue saved[2];
    bool createdKey = false;
    // The private key, under HKEY_CURRENT_USER.
    std::string privatePath;
    HKEY privateRoot = nullptr;
    bool overridden = false;
};

StartupSwitches::StartupSwitches(const veilshift::StartupValues& values, SwitchStore kind) : store_(new Store) {
    store_->kind = kind;
    if (kind == SwitchStore::UserKey) {
        store_->mutex = CreateMutexA(nullptr, FALSE, kUserKeyMutex);
        if (store_->mutex != nullptr) WaitForSingleObject(store_->mutex, INFINITE);
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition) != ERROR_SUCCESS)
            return;
        store_->createdKey = disposition == REG_CREATED_NEW_KEY;
        bool set = true;
        for (int i = 0; i < 2; ++i) {
            store_->saved[i] = Save(key, kValueNames[i]);
            set = Set(key, kValueNames[i], ValueOf(values, i)) && set;
        }
        RegCloseKey(key);
        store_->inForce = set;
        return;
    }
    // A private HKEY_CURRENT_USER holding only the start-up key with the values.
    store_->privatePath = std::string(kPrivateParent) + "\\" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, store_->privatePath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &store_->privateRoot, nullptr) != ERROR_SUCCESS) {
        store_->privateRoot = nullptr;
        return;
    }
    HKEY startup = nullptr;
    bool set = false;
    if (RegCreateKeyExA(store_->privateRoot, kStartupKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &startup, nullptr) == ERROR_SUCCESS) {
        set = Set(startup, kValueNames[0], values.mmx) && Set(startup, kValueNames[1], values.sse);
        RegCloseKey(startup);
    }
    store_->overridden = set && RegOverridePredefKey(HKEY_CURRENT_USER, store_->privateRoot) == ERROR_SUCCESS;
    store_->inForce = store_->overridden;
}

StartupSwitches::~StartupSwitches() {
    if (store_ == nullptr) return;
    if (store_->kind == SwitchStore::UserKey) {
        // Each value as found; the key itself goes again if the scope made it
        // and nothing else has put anything in it since.
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            for (int i = 0; i < 2; ++i) {
                const SavedValue& saved = store_->saved[i];
                if (saved.present)
                    RegSetValueExA(key, kValueNames[i], 0, saved.type, saved.data.data(),
                                   static_cast<DWORD>(saved.data.size()));
                else
                    RegDeleteValueA(key, kValueNames[i]);
            }
            const bool empty = KeyIsEmpty(key);
            RegCloseKey(key);
            if (store_->createdKey && empty) RegDeleteKeyA(HKEY_CURRENT_USER, kStartupKeyPath);
        } else {
            // The key went meanwhile (a test deleting it): values that were there come back.
            for (int i = 0; i < 2; ++i) {
                const SavedValue& saved = store_->saved[i];
                if (!saved.present) continue;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
                    break;
                RegSetValueExA(key, kValueNames[i], 0, saved.type, saved.data.data(),
                               static_cast<DWORD>(saved.data.size()));
                RegCloseKey(key);
            }
        }
        if (store_->mutex != nullptr) {
            ReleaseMutex(store_->mutex);
            CloseHandle(store_->mutex);
        }
    } else {
        if (store_->overridden) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (store_->privateRoot != nullptr) {
            RegCloseKey(store_->privateRoot);
            RegDeleteTreeA(HKEY_CURRENT_USER, store_->privatePath.c_str());
            // The parent goes too once no other process holds a key there.
            HKEY parent = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, kPrivateParent, 0, KEY_READ, &parent) == ERROR_SUCCESS) {
                const bool empty = KeyIsEmpty(parent);
                RegCloseKey(parent);
                if (empty) RegDeleteKeyA(HKEY_CURRENT_USER, kPrivateParent);
            }
        }
    }
    delete store_;
}

#else  // the environment stand-ins: this process's own, so no lock and no private copy

struct StartupSwitches::Store {
    std::optional<std::string> saved[2];
    bool inForce = false;
};

namespace {
std::string Variable(int i) { return std::string(kStartupVariablePrefix) + kValueNames[i]; }
}  // namespace

StartupSwitches::StartupSwitches(const veilshift::StartupValues& values, SwitchStore) : store_(new Store) {
    bool set = true;
    for (int i = 0; i < 2; ++i) {
        const std::string variable = Variable(i);
        if (const char* found = std::getenv(variable.c_str()); found != nullptr) store_->saved[i] = found;
        const veilshift::StartupValue& value = ValueOf(values, i);
        const int status = value.present ? setenv(variable.c_str(), std::to_string(value.value).c_str(), 1)
                                         : unsetenv(variable.c_str());
        set = set && status == 0;
    }
    store_->inForce = set;
}

StartupSwitches::~StartupSwitches() {
    if (store_ == nullptr) return;
    for (int i = 0; i < 2; ++i) {
        const std::string variable = Variable(i);
        if (store_->saved[i]) setenv(variable.c_str(), store_->saved[i]->c_str(), 1);
        else unsetenv(variable.c_str());
    }
    delete store_;
}

#endif

bool StartupSwitches::InForce() const { return store_ == nullptr || store_->inForce; }

}  // namespace refhost
