#include "host/message_capture.h"

#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace refhost {

#if defined(_WIN32)
namespace {

std::vector<ShownMessage>* activeMessages = nullptr;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (activeMessages != nullptr)
        activeMessages->push_back({caption != nullptr ? caption : "", text != nullptr ? text : "", owner, style});
    return IDOK;
}

// The import address table entry through which `module` calls dll!function.
void** FindImportSlot(HMODULE module, const char* dll, const char* function) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    void* target = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), function));
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), dll) != 0) continue;
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        if (entry->OriginalFirstThunk == 0) {
            // No name table: recognise the slot by the address the loader put there.
            for (; slots->u1.Function != 0; ++slots)
                if (reinterpret_cast<void*>(slots->u1.Function) == target) return reinterpret_cast<void**>(&slots->u1.Function);
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void WriteSlot(void** slot, void* value) {
    DWORD previous = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), previous, &previous);
}

}  // namespace

MessageCapture::MessageCapture(const Host& host) {
    slot_ = FindImportSlot(static_cast<HMODULE>(host.ModuleHandle()), "USER32.dll", "MessageBoxA");
    if (slot_ == nullptr) throw std::runtime_error("the module does not import USER32!MessageBoxA");
    original_ = *slot_;
    activeMessages = &messages_;
    WriteSlot(slot_, reinterpret_cast<void*>(&RecordMessageBox));
}

const std::vector<ShownMessage>& MessageCapture::Finish() {
    if (!finished_) {
        finished_ = true;
        WriteSlot(slot_, original_);
        activeMessages = nullptr;
    }
    return messages_;
}

#else

MessageCapture::MessageCapture(const Host&) {
    std::fflush(stderr);
    // A named file, removed by Finish: if the process dies meanwhile, its last
    // words (a sanitizer report, say) are left there.
    char path[] = "/tmp/veilshift-stderr-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("no temporary file");
    path_ = path;
    file_ = fdopen(fd, "w+");
    savedError_ = dup(2);
    dup2(fd, 2);
}

const std::vector<ShownMessage>& MessageCapture::Finish() {
    if (finished_) return messages_;
    finished_ = true;
    std::fflush(stderr);
    dup2(savedError_, 2);
    close(savedError_);
    std::rewind(file_);
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file_)) > 0) output_.append(buffer, got);
    std::fclose(file_);
    std::remove(path_.c_str());
    for (size_t start = 0; start < output_.size();) {
        size_t end = output_.find('\n', start);
        if (end == std::string::npos) end = output_.size();
        std::string line = output_.substr(start, end - start);
        size_t colon = line.find(": ");
        if (colon == std::string::npos) {
            messages_.push_back({"", line});
        } else {
            messages_.push_back({line.substr(0, colon), line.substr(colon + 2)});
        }
        start = end + 1;
    }
    return messages_;
}

#endif

MessageCapture::~MessageCapture() { Finish(); }

}  // namespace refhost
