// Catches the plug-in's message box while alive, so that a test can read it and
// no box waits for a click.
//
// Windows: the module's import slot for USER32!MessageBoxA is pointed at a
// recorder (and restored at the end); every field is the call's own.
// Elsewhere the module writes "caption: text" lines to standard error, which is
// sent to a temporary file meanwhile; owner and style are not observable there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/reference_host.h"

namespace refhost {

struct ShownMessage {
    std::string caption;
    std::string text;   // Shift-JIS on Windows, UTF-8 elsewhere
    void* owner = nullptr;
    uint32_t style = 0;
};

class MessageCapture {
public:
    // The host's module must stay loaded until the capture ends.
    explicit MessageCapture(const Host& host);
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // Ends the capture (later calls answer the same) and returns what was shown.
    const std::vector<ShownMessage>& Finish();
    // Everything written to standard error meanwhile (empty on Windows).
    const std::string& Output() const { return output_; }

private:
    std::vector<ShownMessage> messages_;
    std::string output_;
    bool finished_ = false;
#if defined(_WIN32)
    void** slot_ = nullptr;
    void* original_ = nullptr;
#else
    std::string path_;
    std::FILE* file_ = nullptr;
    int savedError_ = -1;
#endif
};

}  // namespace refhost
