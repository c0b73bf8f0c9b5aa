#include "show_message.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace veilshift {
namespace {
char messageBuffer[1024];
}

bool ShowMessage(const char* format, ...) {
    messageBuffer[0] = '\0';
    va_list args;
    va_start(args, format);
    std::vsnprintf(messageBuffer, sizeof messageBuffer, format, args);
    va_end(args);
    platform::ShowMessageBox(messageBuffer, kMessageCaption);
    return false;
}

}  // namespace veilshift
