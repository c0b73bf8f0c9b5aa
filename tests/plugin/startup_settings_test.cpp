// The user's "MMX" and "SSE" switches, read when the module connects: which
// crossfade form ran shows in the frame bytes. With a = 0, b = 255 and alpha 127
// the scalar form gives 126; the MMX and SSE forms give 125 in grouped pixels
// (the first 4 of a row) and 126 in the tail.
//
// Natively the switches are the environment variables TESSARY_STARTUP_MMX and
// TESSARY_STARTUP_SSE; on Windows the values of the real registry key. That key
// is shared with every test process under the same Wine prefix, so values are
// set only around the Begin that reads them, by the switches' scope (which
// holds a named mutex meanwhile).
#include <cstdlib>
#include <optional>

#include "Veilshift/form_rules.h"
#include "Veilshift/platform/platform.h"
#include "host/in_process_module.h"
#include "host/module_forms.h"
#include "host/startup_switches.h"
#include "processor_forms.h"
#include "session_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sessiontest {
namespace {

#if defined(_WIN32)
using veilshift::platform::kStartupKeyPath;

// Read by the module, but not the number 1: the string "1".
void SetNotANumber(const char* name) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);
    RegCloseKey(key);
}
bool KeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
#else
void SetNotANumber(const char* name) {
    setenv((std::string(veilshift::platform::kStartupVariablePrefix) + name).c_str(), "on", 1);
}
#endif

struct Switches {
    std::optional<uint32_t> mmx{}, sse{};
    bool mmxText = false;

    veilshift::StartupValues Values() const {
        veilshift::StartupValues values;
        if (mmx) values.mmx = {true, *mmx};
        if (sse) values.sse = {true, *sse};
        return values;
    }
};

// Whether "MMX" can choose the grouped arithmetic here: on x86 when the
// processor has MMX; elsewhere always (the processor counts as having it).
bool ProcessorHasMmx() {
#if defined(__i386__) || defined(__x86_64__)
    return __builtin_cpu_supports("mmx");
#else
    return true;
#endif
}

enum class Form { Scalar, Grouped, Unknown };
std::ostream& operator<<(std::ostream& out, Form form) {
    return out << (form == Form::Scalar ? "scalar" : form == Form::Grouped ? "grouped" : "unknown");
}

class StartupSettings : public SessionTest {
protected:
    void SetUp() override {}
    void StartStage() {
        StartHost();
        host->AddSurface(kDst, 5, 2).FillRandom(1);
        host->AddSurface(kSrcA, 5, 2).Fill({0, 0, 0});
        host->AddSurface(kSrcB, 5, 2, -16).Fill({255, 255, 255});
    }
    bool BeginStage() { return host->Begin(kDst, 0, 0, kSrcA, 0, 0, kSrcB, 0, 0, 5, 2, 1); }
    // One frame at alpha 127 (progress 127 of 255) on a 5-pixel row.
    Form DrawnForm() {
        Dst().FillRandom(9);
        host->Draw(127, 255);
        for (int32_t y = 0; y < 2; ++y)
            if (Dst().GetPixel(4, y) != refhost::Rgb{126, 126, 126}) return Form::Unknown;  // the tail
        refhost::Rgb first = Dst().GetPixel(0, 0);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 4; ++x)
                if (Dst().GetPixel(x, y) != first) return Form::Unknown;
        if (first == refhost::Rgb{126, 126, 126}) return Form::Scalar;
        if (first == refhost::Rgb{125, 125, 125}) return Form::Grouped;
        return Form::Unknown;
    }
    // A fresh module connected under these switches, and the form it draws with.
    Form FormOfFreshSession(const Switches& switches) {
        StartStage();
        {
            // The scope puts back what it found, a value of text too.
            const refhost::StartupSwitches scoped(switches.Values());
            if (switches.mmxText) SetNotANumber("MMX");
            EXPECT_TRUE(BeginStage());
        }
        return DrawnForm();
    }
};

TEST_F(StartupSettings, SwitchesChooseTheForm) {
    const Form processor = ProcessorHasMmx() ? Form::Grouped : Form::Scalar;
    struct Case {
        const char* what;
        Switches switches;
        Form expected;
    };
    const Case cases[] = {
        {"no values", {}, processor},
        {"MMX 1", {.mmx = 1}, processor},
        {"MMX 0", {.mmx = 0}, Form::Scalar},
        {"MMX 0 beats SSE 1", {.mmx = 0, .sse = 1}, Form::Scalar},
        {"only exactly 1 is on: MMX 2", {.mmx = 2}, Form::Scalar},
        {"MMX 0x101", {.mmx = 0x101}, Form::Scalar},
        {"MMX not a number", {.mmxText = true}, Form::Scalar},
        {"SSE 1 alone", {.sse = 1}, processor},
        {"SSE 0", {.sse = 0}, processor},
    };
    for (const Case& c : cases) EXPECT_EQ(FormOfFreshSession(c.switches), c.expected) << c.what;
}

// The MMX and SSE forms give the same bytes: which one runs shows only in its
// name. The test process's own module is connected under the switches by its
// first Begin, on a processor without SSE2 (the vector features masked), and
// the crossfade form it decides on is named.
TEST_F(StartupSettings, OnlyExactlyOneSwitchesTheSseFormOn) {
    if (!ProcessorHasMmx()) GTEST_SKIP() << "no MMX: no grouped form";
    if (!veilshift::kX86Forms) GTEST_SKIP() << "the MMX and SSE forms are x86's; elsewhere one grouped form";
    struct Case {
        const char* what;
        Switches switches;
        const char* form;
    };
    const Case cases[] = {
        {"SSE 1", {.sse = 1}, "grouped-sse"},
        {"MMX 1, SSE 1", {.mmx = 1, .sse = 1}, "grouped-sse"},
        {"SSE 2", {.sse = 2}, "grouped-mmx"},
        {"MMX 1, SSE 2", {.mmx = 1, .sse = 2}, "grouped-mmx"},
        {"SSE 0x101", {.sse = 0x101}, "grouped-mmx"},
        {"MMX 2, SSE 1", {.mmx = 2, .sse = 1}, "exact-scalar"},
    };
    for (const Case& c : cases) {
        StartHost({.giveScreenUpdater = false, .giveSurfaceTable = false, .loadModule = false});
        host->AddSurface(kDst, 8, 2).FillRandom(1);
        host->AddSurface(kSrcA, 8, 2).FillRandom(2);
        host->AddSurface(kSrcB, 8, 2).FillRandom(3);
        const refhost::ModuleForms scope(veilshift::ProcessorFeatures{true, true, true, true});
        refhost::InProcessModule module;
        module.Plugin().SetInterface(&veilshift::kScreenUpdaterId, host->Updater());
        module.Plugin().SetInterface(&veilshift::kSurfaceTableId, host->Table());
        veilshift::moduleState.hooks.allowed = {true, true, false, false};
        {
            const refhost::StartupSwitches scoped(c.switches.Values());
            EXPECT_TRUE(module.Plugin().Begin(kDst, 0, 0, kSrcA, 0, 0, kSrcB, 0, 0, 8, 2, 1)) << c.what;
        }
        EXPECT_STREQ(veilshift::EffectFormName(1, 8, veilshift::CurrentFormSettings()), c.form) << c.what;
        module.Plugin().End();
    }
}

TEST_F(StartupSettings, ReadOnEveryAttemptUntilConnectedThenFixed) {
    if (!ProcessorHasMmx()) GTEST_SKIP() << "the forms look alike without MMX";
    StartStage();
    {
        // An attempt that fails after Pixmill reads the switches; the next one reads them again.
        Control(Component::Corvane).factoryAnswersNull = true;
        const refhost::StartupSwitches off(Switches{.mmx = 0}.Values());
        EXPECT_FALSE(BeginStage());
    }
    Control(Component::Corvane).factoryAnswersNull = false;
    {
        const refhost::StartupSwitches none(veilshift::StartupValues{});
        ASSERT_TRUE(BeginStage());
    }
    EXPECT_EQ(DrawnForm(), Form::Grouped);
    {
        // Once connected, nothing is read again.
        const refhost::StartupSwitches off(Switches{.mmx = 0}.Values());
        ASSERT_TRUE(BeginStage());
    }
    EXPECT_EQ(DrawnForm(), Form::Grouped);
}

#if defined(_WIN32)
TEST_F(StartupSettings, MissingKeyIsCreatedOnlyWhenPixmillIsReady) {
    StartStage();
    // Under the scope the other programs that set the key wait.
    const refhost::StartupSwitches none(veilshift::StartupValues{});
    RegDeleteKeyA(HKEY_CURRENT_USER, kStartupKeyPath);
    ASSERT_FALSE(KeyExists());
    Control(Component::Pixmill).isReady = false;
    EXPECT_FALSE(BeginStage());
    EXPECT_FALSE(KeyExists());  // the settings were not read

    Control(Component::Pixmill).isReady = true;
    ASSERT_TRUE(BeginStage());
    EXPECT_TRUE(KeyExists());
    EXPECT_EQ(DrawnForm(), ProcessorHasMmx() ? Form::Grouped : Form::Scalar);
}
#endif

}  // namespace
}  // namespace sessiontest
