// The reference host: drives a Veilshift session the way the engine does.
//
// Construction loads the components asked for (each from its own module, with
// its control block reset and wired to this host's call log), then the
// Veilshift module, obtains the plug-in through CreateInterface and hands over
// the ScreenUpdater and SurfaceTable. Destruction unloads the module first (its
// static clean-up runs then, with the components still present), then the
// components. Every Host thus starts from a freshly loaded module; only one may
// exist at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Veilshift/host_interfaces.h"
#include "host/component_control.h"
#include "host/test_surface.h"

namespace refhost {

enum class Component { Corvane, Platewright, Pixmill };

struct HostOptions {
    bool loadCorvane = true;
    bool loadPlatewright = true;
    bool loadPixmill = true;
    bool giveScreenUpdater = true;
    bool giveSurfaceTable = true;
    bool surfaceTableFirst = false;  // order of the two SetInterface calls
    // False: the components only, for a test that drives the test process's own
    // EffectPlugin (the static core) against them. The exports and Plugin() are
    // then unavailable (null), and no interface is handed over.
    bool loadModule = true;
    // False: no call is logged (the counters and violations still are), for
    // long runs that would otherwise grow the log.
    bool logCalls = true;
    // A component loaded without its factory export (a module of the same
    // name that exports only its control block): the module finds the
    // component but not the factory.
    std::optional<Component> withoutFactory{};
    // The folder beside the program that holds the three components (the
    // preview tool keeps them in "stand-ins", apart from its own files);
    // empty: beside the program.
    std::string componentFolder{};
};

class Host {
public:
    // Throws std::runtime_error when a module cannot be loaded.
    explicit Host(const HostOptions& options = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The module's exports.
    veilshift::PluginInterface* CreateInterface(const veilshift::Guid* id);
    bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
               int32_t by, int32_t width, int32_t height, int32_t effect);
    void Draw(int32_t progress, int32_t total);
    void End();

    veilshift::PluginInterface* Plugin() const { return plugin_; }  // as obtained at construction
    veilshift::ScreenUpdater* Updater();
    veilshift::SurfaceTable* Table();
    void GiveScreenUpdater();
    void GiveSurfaceTable();
    void* ModuleHandle() const { return module_; }
    // Unloads the module now, as the engine does at shut-down (its static
    // clean-up runs here); the components stay until the Host goes. The exports
    // must not be called afterwards.
    void UnloadModule();

    // Numbered surfaces; the table answers null for numbers not present.
    TestSurface& AddSurface(int32_t number, int32_t width, int32_t height, int32_t pitch = 0);
    void RemoveSurface(int32_t number);
    TestSurface* Surface(int32_t number);
    bool SurfacesIntact() const;  // guard bytes of every numbered surface

    // Null when the component was not loaded.
    ComponentControl* Control(Component component) const;
    veilshift::ComponentFactoryFn Factory(Component component) const;

    const std::vector<HostCall>& Calls() const { return calls_; }
    std::vector<HostCall> CallsOf(HostOp op) const;
    std::vector<HostOp> Ops() const;
    void ClearCalls() { calls_.clear(); }
    int32_t Violations() const { return log_.violations; }
    void ResetViolations() { log_.violations = 0; }

private:
    class TableImpl;
    class UpdaterImpl;

    void* LoadComponent(const char* name, bool withoutFactory);
    void* Symbol(void* module, const char* name) const;

    std::vector<HostCall> calls_;
    CallLog log_{};
    std::map<int32_t, std::unique_ptr<TestSurface>> surfaces_;
    std::unique_ptr<TableImpl> table_;
    std::unique_ptr<UpdaterImpl> updater_;
    std::string componentFolder_;
    void* components_[3] = {};
    ComponentControl* controls_[3] = {};
    void* module_ = nullptr;
    veilshift::CreateInterfaceFn createInterface_ = nullptr;
    veilshift::BeginFn begin_ = nullptr;
    veilshift::DrawFn draw_ = nullptr;
    veilshift::EndFn end_ = nullptr;
    veilshift::PluginInterface* plugin_ = nullptr;
};

const char* OpName(HostOp op);
inline std::ostream& operator<<(std::ostream& out, HostOp op) { return out << OpName(op); }
std::ostream& operator<<(std::ostream& out, const HostCall& call);

}  // namespace refhost
