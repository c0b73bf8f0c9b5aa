// The binary interface: table positions of every interface operation, and on
// Windows the DLL's exports and version resource as the loader sees them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/host_interfaces.h"
#include "virtual_slot.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace veilshift {
namespace {

using ::test::VirtualSlot;

TEST(BinaryInterface, HostOperationsSitAtTheirTablePositions) {
    EXPECT_EQ(VirtualSlot(&SurfaceTable::GetSurface), 0);
    EXPECT_EQ(VirtualSlot(&ScreenUpdater::UpdateRect), 0);
    EXPECT_EQ(VirtualSlot(&HostSurface::Release), 1);
    EXPECT_EQ(VirtualSlot(&HostSurface::PixelAddress), 2);
    EXPECT_EQ(VirtualSlot(&HostSurface::Width), 4);
    EXPECT_EQ(VirtualSlot(&HostSurface::Height), 5);
    EXPECT_EQ(VirtualSlot(&HostSurface::Pitch), 7);
    EXPECT_EQ(VirtualSlot(&PlatewrightApi::CreateSurface), 3);
    EXPECT_EQ(VirtualSlot(&PixmillApi::IsReady), 2);
    EXPECT_EQ(VirtualSlot(&PixmillApi::SetFlag), 3);
    EXPECT_EQ(VirtualSlot(&PixmillApi::Copy), 4);
    EXPECT_EQ(VirtualSlot(&PixmillApi::CopyAxisX), 73);
    EXPECT_EQ(VirtualSlot(&PixmillApi::CopyAxisY), 74);
    EXPECT_EQ(VirtualSlot(&SystemApi::LookupInterface), 0);
    EXPECT_EQ(VirtualSlot(&TimerApi::GetTime), 1);
}

TEST(BinaryInterface, PluginOperationsAndObjectLayout) {
    EXPECT_EQ(VirtualSlot(&PluginInterface::GetVersion), 0);
    EXPECT_EQ(VirtualSlot(&PluginInterface::GetFlags), 1);
    EXPECT_EQ(VirtualSlot(&PluginInterface::SetInterface), 2);
    EXPECT_EQ(VirtualSlot(&PluginInterface::Idle), 3);
    EXPECT_EQ(VirtualSlot(&PluginInterface::Notify), 4);
    // The table pointer is the object's first word, then the two host interfaces.
    EffectPlugin plugin;
    auto offset = [&](const void* field) { return static_cast<const char*>(field) - reinterpret_cast<const char*>(&plugin); };
    EXPECT_EQ(offset(&plugin.screenUpdater), static_cast<ptrdiff_t>(sizeof(void*)));
    EXPECT_EQ(offset(&plugin.surfaceTable), static_cast<ptrdiff_t>(2 * sizeof(void*)));
    EXPECT_EQ(sizeof(bool), 1u);
    EXPECT_EQ(sizeof(TransitionParams), 48u);
}

// A GUID's 16 bytes from its registry form: the three fields little-endian,
// then the eight bytes in order.
std::vector<uint8_t> GuidBytes(const char* text) {
    unsigned f1, f2, f3, b[8];
    EXPECT_EQ(std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &f1, &f2, &f3, &b[0], &b[1], &b[2], &b[3],
                          &b[4], &b[5], &b[6], &b[7]),
              11)
        << text;
    std::vector<uint8_t> bytes = {uint8_t(f1), uint8_t(f1 >> 8), uint8_t(f1 >> 16), uint8_t(f1 >> 24),
                                  uint8_t(f2), uint8_t(f2 >> 8), uint8_t(f3),       uint8_t(f3 >> 8)};
    bytes.insert(bytes.end(), b, b + 8);
    return bytes;
}
std::vector<uint8_t> BytesOf(const Guid& guid) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&guid);
    return {p, p + 16};
}

// Every GUID as the engine writes it. The reference host's components share
// these constants with the module, so only this catches one that is wrong.
TEST(BinaryInterface, GuidsAreTheStandardByteSequence) {
    const uint8_t expected[16] = {0x5C, 0xAB, 0xD5, 0x21, 0xBB, 0xB8, 0xB3, 0x4C,
                                  0xA2, 0x38, 0x53, 0xBE, 0x3E, 0xC7, 0x68, 0x4D};
    EXPECT_EQ(std::memcmp(&kPluginGuid, expected, 16), 0);
    const std::pair<const Guid*, const char*> guids[] = {
        {&kPluginGuid, "{21D5AB5C-B8BB-4CB3-A238-53BE3EC7684D}"},
        {&kScreenUpdaterId, "{1C225D59-DA0D-438B-8481-0DA06A4D89E6}"},
        {&kSurfaceTableId, "{631954D8-253C-4CD6-88B2-3AAB75923B64}"},
        {&kCorvaneGuid, "{B995A758-BFB0-4F7A-9F17-D23A0FB48A08}"},
        {&kPlatewrightGuid, "{D6433348-4DB3-11D4-BEB2-00C0F6B0E9BE}"},
        {&kPixmillGuid, "{46F1EC26-82CD-4A69-A0BF-8F7D6975ABDA}"},
        {&kTimerApiId, "{114CE6BD-E8CE-4C55-919F-E382308DC8AF}"},
    };
    for (const auto& [guid, text] : guids) EXPECT_EQ(BytesOf(*guid), GuidBytes(text)) << text;
    EXPECT_STREQ(kCorvaneModule, "Corvane");
    EXPECT_STREQ(kCorvaneFactory, "GetInterface");
    EXPECT_STREQ(kPlatewrightModule, "Platewright");
    EXPECT_STREQ(kPlatewrightFactory, "CreateInterface");
    EXPECT_STREQ(kPixmillModule, "Pixmill");
    EXPECT_STREQ(kPixmillFactory, "CreateInterface");
}

#if defined(_WIN32)
class LoadedDll : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("Veilshift.dll");
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(LoadedDll, ExportsExactlyTheFourUndecoratedEntryPoints) {
    for (const char* name : {"CreateInterface", "Begin", "Draw", "End"})
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
    for (const char* name : {"_Begin", "Begin@48", "_CreateInterface@4", "DllMain"})
        EXPECT_EQ(GetProcAddress(module_, name), nullptr) << name;

    auto* base = reinterpret_cast<const uint8_t*>(module_);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_EQ(exports->NumberOfFunctions, 4u);
    ASSERT_EQ(exports->NumberOfNames, 4u);
    auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const char* expected[] = {"Begin", "CreateInterface", "Draw", "End"};
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(reinterpret_cast<const char*>(base + names[i]), expected[i]);
}

TEST_F(LoadedDll, CreateInterfaceAnswersOnlyThePluginGuid) {
    auto create = reinterpret_cast<CreateInterfaceFn>(reinterpret_cast<void*>(GetProcAddress(module_, "CreateInterface")));
    PluginInterface* plugin = create(&kPluginGuid);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(create(&kPluginGuid), plugin);
    EXPECT_EQ(plugin->GetVersion(), 1);
    EXPECT_EQ(plugin->GetFlags(), 0);
    Guid other = kPluginGuid;
    other.data4[7] ^= 1;
    EXPECT_EQ(create(&other), nullptr);
}

// A host may load and free the module many times in one process. Whatever a
// load takes from the process must come back: Windows has about a thousand
// thread-local slots, and a module whose runtime kept one per load could no
// longer be loaded after about that many loads.
TEST(ModuleLoading, LoadingAndFreeingKeepsNoThreadLocalSlot) {
    const DWORD before = TlsAlloc();
    ASSERT_NE(before, TLS_OUT_OF_INDEXES);
    TlsFree(before);
    for (int i = 0; i < 1200; ++i) {
        HMODULE module = LoadLibraryA("Veilshift.dll");
        ASSERT_NE(module, nullptr) << "load " << i;
        FreeLibrary(module);
    }
    const DWORD after = TlsAlloc();
    TlsFree(after);
    EXPECT_EQ(after, before);
}

TEST(VersionResource, CarriesTheProductStringsInJapanese) {
    char path[MAX_PATH];
    HMODULE module = LoadLibraryA("Veilshift.dll");
    ASSERT_NE(module, nullptr);
    GetModuleFileNameA(module, path, MAX_PATH);
    FreeLibrary(module);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);  // Japanese

    const std::pair<const char*, const char*> strings[] = {
        {"FileVersion", "1, 0, 0, 0"},     {"ProductVersion", "1, 0, 0, 0"},
        {"Comments", "Veilshift Ver.1.00"}, {"InternalName", "Veilshift"},
        {"OriginalFilename", "Veilshift.dll"}};
    for (const auto& [key, value] : strings) {
        char query[128];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], key);
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(text, value) << key;
    }
}
#endif

}  // namespace
}  // namespace veilshift
