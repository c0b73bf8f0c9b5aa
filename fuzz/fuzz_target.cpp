// libFuzzer target: each input is a host and a session (see scenario.h), run
// against the module with every check after every call. A broken check aborts
// with what broke, so libFuzzer keeps the input.
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/in_process_target.h"
#include "fuzz/scenario.h"

namespace {
robustness::InProcessTarget* target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Sanitizer reports keep a descriptor of their own: standard error is sent
    // away while the module shows its message line.
    const int reports = dup(2);
    if (reports >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(reports)));
    target = new robustness::InProcessTarget(/*quiet=*/true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string failure = robustness::RunScenario(data, size, *target);
    if (!failure.empty()) {
        std::fprintf(stderr, "robustness check failed: %s\n", failure.c_str());
        std::fflush(stderr);
        std::abort();
    }
    return 0;
}
