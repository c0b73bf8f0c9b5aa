// host_interfaces.h — the whole contract between the engine (the host) and Veilshift.
//
// Every interface here is an object whose first word points to a table of
// operations. The virtual order below IS the binary interface: on i686 Windows
// each operation is thiscall (object in ECX, the callee removes its arguments),
// arguments are 32-bit, booleans are one byte. No interface has a virtual
// destructor (it would add table slots) and no name is overloaded. Positions the
// plug-in never calls are filled with placeholders so that every listed
// position is exact; the tests pin each position.
//
// Pixels: 24 bits, 3 bytes. PixelAddress(x, y) is the pixel's first byte, the
// next pixel follows 3 bytes on and the next row Pitch() bytes on (a negative
// pitch is a bottom-up surface). No channel order is assumed.
//
// PixelAddress may answer null (a surface the engine cannot reach just then).
// The module never writes through a null address and never fails on one: it
// asks for its addresses before it writes, and a frame it cannot draw is left
// as it is (the session goes on, and the next frame asks again). The mosaic
// asks for source rows block row by block row; a null answer part way ends its
// frame there. The shatter's background is the host's own Copy, and its pieces
// are drawn only while the destination and source A answer.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(_WIN32) && defined(__i386__)
#define VS_THISCALL __attribute__((thiscall))
#define VS_CDECL __attribute__((cdecl))
#else
#define VS_THISCALL
#define VS_CDECL
#endif

// A table position the plug-in never calls. The body keeps implementers free
// of it; the unique name keeps the table free of overloads.
#define VS_UNUSED_SLOT(n) \
    virtual void VS_THISCALL UnusedSlot##n() {}

namespace veilshift {

// The standard 16-byte GUID structure: 32-, 16- and 16-bit fields (little-endian
// on every target we build for), then 8 bytes.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

inline bool SameGuid(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }

// The plug-in and the ids it is handed its two interfaces with.
inline constexpr Guid kPluginGuid = {0x21D5AB5C, 0xB8BB, 0x4CB3, {0xA2, 0x38, 0x53, 0xBE, 0x3E, 0xC7, 0x68, 0x4D}};
inline constexpr Guid kScreenUpdaterId = {0x1C225D59, 0xDA0D, 0x438B, {0x84, 0x81, 0x0D, 0xA0, 0x6A, 0x4D, 0x89, 0xE6}};
inline constexpr Guid kSurfaceTableId = {0x631954D8, 0x253C, 0x4CD6, {0x88, 0xB2, 0x3A, 0xAB, 0x75, 0x92, 0x3B, 0x64}};

// The engine's components, found by module name, and the GUIDs passed to their factories.
inline constexpr char kCorvaneModule[] = "Corvane";
inline constexpr char kCorvaneFactory[] = "GetInterface";
inline constexpr Guid kCorvaneGuid = {0xB995A758, 0xBFB0, 0x4F7A, {0x9F, 0x17, 0xD2, 0x3A, 0x0F, 0xB4, 0x8A, 0x08}};
inline constexpr char kPlatewrightModule[] = "Platewright";
inline constexpr char kPlatewrightFactory[] = "CreateInterface";
inline constexpr Guid kPlatewrightGuid = {0xD6433348, 0x4DB3, 0x11D4, {0xBE, 0xB2, 0x00, 0xC0, 0xF6, 0xB0, 0xE9, 0xBE}};
inline constexpr char kPixmillModule[] = "Pixmill";
inline constexpr char kPixmillFactory[] = "CreateInterface";
inline constexpr Guid kPixmillGuid = {0x46F1EC26, 0x82CD, 0x4A69, {0xA0, 0xBF, 0x8F, 0x7D, 0x69, 0x75, 0xAB, 0xDA}};
inline constexpr Guid kTimerApiId = {0x114CE6BD, 0xE8CE, 0x4C55, {0x91, 0x9F, 0xE3, 0x82, 0x30, 0x8D, 0xC8, 0xAF}};

class HostSurface {
public:
    VS_UNUSED_SLOT(0)
    virtual void VS_THISCALL Release() = 0;                                  // 1: only for surfaces from CreateSurface
    virtual uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) = 0;     // 2: may be null
    VS_UNUSED_SLOT(3)
    virtual int32_t VS_THISCALL Width() = 0;                                 // 4
    virtual int32_t VS_THISCALL Height() = 0;                                // 5
    VS_UNUSED_SLOT(6)
    virtual int32_t VS_THISCALL Pitch() = 0;                                 // 7

protected:
    ~HostSurface() = default;
};

class SurfaceTable {
public:
    virtual HostSurface* VS_THISCALL GetSurface(int32_t number) = 0;         // 0: null when unknown

protected:
    ~SurfaceTable() = default;
};

class ScreenUpdater {
public:
    virtual void VS_THISCALL UpdateRect(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height) = 0;  // 0

protected:
    ~ScreenUpdater() = default;
};

class PlatewrightApi {
public:
    VS_UNUSED_SLOT(0)
    VS_UNUSED_SLOT(1)
    VS_UNUSED_SLOT(2)
    virtual HostSurface* VS_THISCALL CreateSurface(int32_t width, int32_t height, int32_t bitsPerPixel) = 0;  // 3

protected:
    ~PlatewrightApi() = default;
};

#define VS_PIXMILL_COPY_ARGS                                                                     \
    HostSurface *dst, int32_t dx, int32_t dy, HostSurface *src, int32_t sx, int32_t sy, int32_t width, \
        int32_t height

class PixmillApi {
public:
    VS_UNUSED_SLOT(0)
    VS_UNUSED_SLOT(1)
    virtual bool VS_THISCALL IsReady() = 0;                                  // 2
    virtual void VS_THISCALL SetFlag(int32_t value) = 0;                     // 3
    virtual void VS_THISCALL Copy(VS_PIXMILL_COPY_ARGS) = 0;                 // 4
    VS_UNUSED_SLOT(5) VS_UNUSED_SLOT(6) VS_UNUSED_SLOT(7) VS_UNUSED_SLOT(8) VS_UNUSED_SLOT(9)
    VS_UNUSED_SLOT(10) VS_UNUSED_SLOT(11) VS_UNUSED_SLOT(12) VS_UNUSED_SLOT(13) VS_UNUSED_SLOT(14)
    VS_UNUSED_SLOT(15) VS_UNUSED_SLOT(16) VS_UNUSED_SLOT(17) VS_UNUSED_SLOT(18) VS_UNUSED_SLOT(19)
    VS_UNUSED_SLOT(20) VS_UNUSED_SLOT(21) VS_UNUSED_SLOT(22) VS_UNUSED_SLOT(23) VS_UNUSED_SLOT(24)
    VS_UNUSED_SLOT(25) VS_UNUSED_SLOT(26) VS_UNUSED_SLOT(27) VS_UNUSED_SLOT(28) VS_UNUSED_SLOT(29)
    VS_UNUSED_SLOT(30) VS_UNUSED_SLOT(31) VS_UNUSED_SLOT(32) VS_UNUSED_SLOT(33) VS_UNUSED_SLOT(34)
    VS_UNUSED_SLOT(35) VS_UNUSED_SLOT(36) VS_UNUSED_SLOT(37) VS_UNUSED_SLOT(38) VS_UNUSED_SLOT(39)
    VS_UNUSED_SLOT(40) VS_UNUSED_SLOT(41) VS_UNUSED_SLOT(42) VS_UNUSED_SLOT(43) VS_UNUSED_SLOT(44)
    VS_UNUSED_SLOT(45) VS_UNUSED_SLOT(46) VS_UNUSED_SLOT(47) VS_UNUSED_SLOT(48) VS_UNUSED_SLOT(49)
    VS_UNUSED_SLOT(50) VS_UNUSED_SLOT(51) VS_UNUSED_SLOT(52) VS_UNUSED_SLOT(53) VS_UNUSED_SLOT(54)
    VS_UNUSED_SLOT(55) VS_UNUSED_SLOT(56) VS_UNUSED_SLOT(57) VS_UNUSED_SLOT(58) VS_UNUSED_SLOT(59)
    VS_UNUSED_SLOT(60) VS_UNUSED_SLOT(61) VS_UNUSED_SLOT(62) VS_UNUSED_SLOT(63) VS_UNUSED_SLOT(64)
    VS_UNUSED_SLOT(65) VS_UNUSED_SLOT(66) VS_UNUSED_SLOT(67) VS_UNUSED_SLOT(68) VS_UNUSED_SLOT(69)
    VS_UNUSED_SLOT(70) VS_UNUSED_SLOT(71) VS_UNUSED_SLOT(72)
    // The host's own drawing of the work surface, moved by `amount` along one axis
    // (0 to width / 2 for X, 0 to height / 2 for Y).
    virtual void VS_THISCALL CopyAxisX(VS_PIXMILL_COPY_ARGS, int32_t amount) = 0;  // 73
    virtual void VS_THISCALL CopyAxisY(VS_PIXMILL_COPY_ARGS, int32_t amount) = 0;  // 74

protected:
    ~PixmillApi() = default;
};

class SystemApi {
public:
    virtual void* VS_THISCALL LookupInterface(const Guid* id) = 0;           // 0: null when unknown

protected:
    ~SystemApi() = default;
};

class TimerApi {
public:
    VS_UNUSED_SLOT(0)
    virtual uint32_t VS_THISCALL GetTime() = 0;                              // 1: seeds the shatter mesh

protected:
    ~TimerApi() = default;
};

// The plug-in's own interface, as CreateInterface hands it out.
class PluginInterface {
public:
    virtual int32_t VS_THISCALL GetVersion() = 0;                            // 0: answers 1
    virtual int32_t VS_THISCALL GetFlags() = 0;                              // 1: answers 0
    virtual void VS_THISCALL SetInterface(const Guid* id, void* ptr) = 0;    // 2
    virtual void VS_THISCALL Idle() = 0;                                     // 3: does nothing
    virtual void VS_THISCALL Notify(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                    int32_t) = 0;                            // 4: does nothing

protected:
    ~PluginInterface() = default;
};

// The module's four exports: undecorated, cdecl, caller removes the arguments.
using CreateInterfaceFn = PluginInterface* (VS_CDECL*)(const Guid* id);
using BeginFn = bool (VS_CDECL*)(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay,
                                 int32_t srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t effect);
using DrawFn = void (VS_CDECL*)(int32_t progress, int32_t total);
using EndFn = void (VS_CDECL*)();

// The factory every engine component exports (CreateInterface or GetInterface).
using ComponentFactoryFn = void* (VS_CDECL*)(const Guid* id);

}  // namespace veilshift
