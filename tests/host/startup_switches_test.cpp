// The start-up switches' scope: the values where the module reads them at
// connection (read back here with the module's own reader), the test
// process's own module set through its rule, and everything as it was at the
// scope's end, nested scopes and values the scope's code wrote meanwhile too.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "Veilshift/form_rules.h"
#include "Veilshift/module_state.h"
#include "Veilshift/platform/platform.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transitions/crossfade.h"
#include "host/module_forms.h"
#include "host/startup_switches.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace {

using refhost::ModuleForms;
using refhost::StartupSwitches;
using veilshift::StartupValue;
using veilshift::StartupValues;

// What the module reads at connection now.
StartupValues Read() {
    const veilshift::platform::StartupKey key;
    StartupValues values;
    if (key.IsOpen()) {
        values.mmx.present = key.ReadValue("MMX", values.mmx.value);
        values.sse.present = key.ReadValue("SSE", values.sse.value);
    }
    return values;
}

testing::AssertionResult Same(const StartupValues& actual, const StartupValues& expected) {
    auto same = [](const StartupValue& a, const StartupValue& b) {
        return a.present == b.present && (!a.present || a.value == b.value);
    };
    if (same(actual.mmx, expected.mmx) && same(actual.sse, expected.sse)) return testing::AssertionSuccess();
    auto show = [](const StartupValue& v) { return v.present ? std::to_string(v.value) : std::string("absent"); };
    return testing::AssertionFailure() << "MMX " << show(actual.mmx) << ", SSE " << show(actual.sse);
}

TEST(StartupSwitches, ValuesByName) {
    EXPECT_TRUE(Same(*refhost::NamedStartupValues("auto"), {}));
    EXPECT_TRUE(Same(*refhost::NamedStartupValues("scalar"), {{true, 0}, {true, 0}}));
    EXPECT_TRUE(Same(*refhost::NamedStartupValues("mmx"), {{true, 1}, {true, 0}}));
    EXPECT_TRUE(Same(*refhost::NamedStartupValues("sse"), {{true, 1}, {true, 1}}));
    EXPECT_FALSE(refhost::NamedStartupValues("avx"));
    EXPECT_FALSE(refhost::NamedStartupValues("SSE"));
}

// Present, absent and any 32-bit value reach the module's reader; nested
// scopes unwind in order, and the outermost leaves what it found.
TEST(StartupSwitches, SetWhereConnectionReadsThemAndPutBack) {
    const StartupSwitches outer(StartupValues{{true, 0xFFFFFFFFu}, {}});
    ASSERT_TRUE(outer.InForce());
    EXPECT_TRUE(Same(Read(), {{true, 0xFFFFFFFFu}, {}}));
    {
        const StartupSwitches inner(StartupValues{{}, {true, 1}});
        EXPECT_TRUE(inner.InForce());
        EXPECT_TRUE(Same(Read(), {{}, {true, 1}}));
        {
            const StartupSwitches innermost(refhost::SwitchValues(true, false));
            EXPECT_TRUE(Same(Read(), {{true, 1}, {true, 0}}));
        }
        EXPECT_TRUE(Same(Read(), {{}, {true, 1}}));
    }
    EXPECT_TRUE(Same(Read(), {{true, 0xFFFFFFFFu}, {}}));
}

// A value the scope's code writes itself (here text, which the module reads
// as present but not 1) is put back as the scope found it.
TEST(StartupSwitches, WhatTheScopesCodeWroteGoesToo) {
    const StartupSwitches outer(StartupValues{{true, 7}, {true, 1}});
    {
        const StartupSwitches inner(StartupValues{});
#if defined(_WIN32)
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, veilshift::platform::kStartupKeyPath, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "MMX", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
        RegCloseKey(key);
#else
        setenv((std::string(veilshift::platform::kStartupVariablePrefix) + "MMX").c_str(), "on", 1);
#endif
        const StartupValues inside = Read();
        EXPECT_TRUE(inside.mmx.present);
        EXPECT_NE(inside.mmx.value, 1u);
        EXPECT_FALSE(inside.sse.present);
    }
    EXPECT_TRUE(Same(Read(), {{true, 7}, {true, 1}}));
}

// The test process's own module: the switches by the module's rule, the
// processor's features recorded as connection would, the mask, and all of it
// (the streaming thresholds too) back at the end.
TEST(StartupSwitches, OwnModuleThroughItsRuleAndMask) {
    const ModuleForms saved(refhost::kEveryFeature);
    const veilshift::ProcessorFeatures present = veilshift::DetectProcessorFeatures();
    veilshift::moduleState.settled.UseMMX = true;
    veilshift::moduleState.settled.UseSSE = false;
    veilshift::moduleState.settled.features = {};
    const uint64_t threshold = veilshift::moduleState.hooks.streamingBytes;
    {
        const ModuleForms scope(StartupValues{{true, 0}, {true, 1}}, {true, true, false, false});
        EXPECT_FALSE(veilshift::moduleState.settled.UseMMX);  // "MMX" 0 wins over "SSE" 1
        EXPECT_FALSE(veilshift::moduleState.settled.UseSSE);
        EXPECT_TRUE(Same(Read(), {{true, 0}, {true, 1}}));  // and a connection within reads the same
        const veilshift::FormSettings settings = veilshift::CurrentFormSettings();
        EXPECT_EQ(settings.features.mmx, present.mmx);
        EXPECT_FALSE(settings.features.sse2);
        EXPECT_FALSE(settings.features.avx2);
        {
            const StartupValues both = refhost::SwitchValues(true, true);
            const ModuleForms grouped(both, refhost::kEveryFeature);
            const veilshift::FormSettings wanted = veilshift::DecideFormSettings(both, present);
            EXPECT_EQ(veilshift::moduleState.settled.UseMMX, wanted.useMmx);
            EXPECT_EQ(veilshift::moduleState.settled.UseSSE, wanted.useSse);
            EXPECT_EQ(veilshift::CurrentFormSettings().features.sse2, present.sse2);
            veilshift::moduleState.hooks.streamingBytes = 1;
        }
        EXPECT_EQ(veilshift::moduleState.hooks.streamingBytes, threshold);
        EXPECT_FALSE(veilshift::CurrentFormSettings().features.sse2);
        const ModuleForms maskOnly(veilshift::ProcessorFeatures{true, true, true, false});
        EXPECT_FALSE(veilshift::moduleState.settled.UseMMX);  // the switches as they were
        EXPECT_FALSE(veilshift::CurrentFormSettings().features.avx2);
    }
    EXPECT_TRUE(veilshift::moduleState.settled.UseMMX);
    EXPECT_FALSE(veilshift::moduleState.settled.UseSSE);
    EXPECT_FALSE(veilshift::moduleState.settled.features.mmx);
    EXPECT_TRUE(veilshift::moduleState.hooks.allowed.avx2);
}

#if defined(_WIN32)
// The private key: the module reads the scope's values, the user's own key
// is neither read nor touched, and nothing of the private key stays behind.
TEST(StartupSwitches, PrivateKeyLeavesTheUsersKeyAlone) {
    const StartupSwitches users(StartupValues{{true, 5}, {}});
    {
        const StartupSwitches own(refhost::SwitchValues(false, true), refhost::SwitchStore::PrivateKey);
        ASSERT_TRUE(own.InForce());
        EXPECT_TRUE(Same(Read(), {{true, 0}, {true, 1}}));
    }
    EXPECT_TRUE(Same(Read(), {{true, 5}, {}}));
    // This process's private key is gone (another process may hold one beside it).
    const std::string ownKey = "Software\\Veilshift preview tool\\" + std::to_string(GetCurrentProcessId());
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, ownKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}
#endif

// The gathers: as the processor decides, or the forms with them or without
// whatever they cost, and the recorded features back at the end.
TEST(StartupSwitches, GathersAsDetectedUsedOrAvoided) {
    const ModuleForms saved(refhost::kEveryFeature);
    const bool detected = veilshift::DetectProcessorFeatures().fastGather;
    EXPECT_EQ(veilshift::CurrentFormSettings().features.fastGather, detected);
    {
        const ModuleForms used(refhost::kEveryFeature, refhost::Gathers::Used);
        EXPECT_TRUE(veilshift::CurrentFormSettings().features.fastGather);
        const ModuleForms avoided(refhost::kEveryFeature, refhost::Gathers::Avoided);
        EXPECT_FALSE(veilshift::CurrentFormSettings().features.fastGather);
    }
    EXPECT_EQ(veilshift::CurrentFormSettings().features.fastGather, detected);
}

}  // namespace
