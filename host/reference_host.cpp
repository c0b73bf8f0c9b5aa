#include "host/reference_host.h"

#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include "Veilshift/platform/linked_components.h"
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

using namespace veilshift;

namespace refhost {
namespace {

// Indexed by Component.
const char* const kComponentNames[3] = {kCorvaneModule, kPlatewrightModule, kPixmillModule};
const char* const kFactoryNames[3] = {kCorvaneFactory, kPlatewrightFactory, kPixmillFactory};
bool hostAlive = false;

void AppendCall(void* context, const HostCall* call) { static_cast<std::vector<HostCall>*>(context)->push_back(*call); }

#if defined(_WIN32)
std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return ".";
    const std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}
constexpr char kFolderSeparator = '\\';
// By full path from the executable's folder, where the build puts every module,
// so that no copy elsewhere on the search path is taken instead.
void* OpenModule(const std::string& name) {
    return LoadLibraryA((ExecutableDirectory() + "\\" + name + ".dll").c_str());
}
void CloseModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
bool StillLoaded(const std::string& name) { return GetModuleHandleA(name.c_str()) != nullptr; }
void* FindSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
std::string LoadFailure() { return "error " + std::to_string(GetLastError()); }
#elif defined(__EMSCRIPTEN__)
}  // namespace
}  // namespace refhost

// The module's exports, linked into this program.
extern "C" {
veilshift::PluginInterface* CreateInterface(const veilshift::Guid* id);
bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
           int32_t by, int32_t width, int32_t height, int32_t effect);
void Draw(int32_t progress, int32_t total);
void End();
}

namespace refhost {
namespace {
// Everything is linked in: "loading" a component registers its factory with
// the module, "unloading" takes it away again. The module itself stays for the
// program's life, so a later Host finds it as the last one left it.
constexpr char kModuleName[] = "Veilshift";
// Only the named components are linked in: a folder (the copies without a
// factory of the loading builds) finds none.
constexpr char kFolderSeparator = '/';
const LinkedComponent* const kLinked[3] = {&kLinkedCorvane, &kLinkedPlatewright, &kLinkedPixmill};
bool registered[3] = {};
int LinkedIndex(const std::string& name) {
    for (int i = 0; i < 3; ++i)
        if (name == kLinked[i]->name) return i;
    return -1;
}
void* OpenModule(const std::string& name) {
    if (name == kModuleName) return const_cast<char*>(kModuleName);
    const int i = LinkedIndex(name);
    if (i < 0 ||
        !veilshift::platform::RegisterLinkedComponent(kLinked[i]->name, kLinked[i]->factoryName, kLinked[i]->factory))
        return nullptr;
    registered[i] = true;
    return const_cast<LinkedComponent*>(kLinked[i]);
}
void CloseModule(void* module) {
    if (module == kModuleName) return;
    const int i = LinkedIndex(static_cast<const LinkedComponent*>(module)->name);
    veilshift::platform::RegisterLinkedComponent(kLinked[i]->name, kLinked[i]->factoryName, nullptr);
    registered[i] = false;
}
bool StillLoaded(const std::string& name) {
    const int i = LinkedIndex(name);
    return i >= 0 && registered[i];
}
void* FindSymbol(void* module, const char* name) {
    const std::string wanted = name;
    if (module == kModuleName) {
        if (wanted == "CreateInterface") return reinterpret_cast<void*>(&CreateInterface);
        if (wanted == "Begin") return reinterpret_cast<void*>(&Begin);
        if (wanted == "Draw") return reinterpret_cast<void*>(&Draw);
        if (wanted == "End") return reinterpret_cast<void*>(&End);
        return nullptr;
    }
    const auto* component = static_cast<const LinkedComponent*>(module);
    if (wanted == component->factoryName) return reinterpret_cast<void*>(component->factory);
    if (wanted == kControlExport) return reinterpret_cast<void*>(component->control);
    return nullptr;
}
std::string LoadFailure() { return "not linked into this program"; }
#else
std::string ExecutableDirectory() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return ".";
    std::string full(path, static_cast<size_t>(length));
    return full.substr(0, full.find_last_of('/'));
}
constexpr char kFolderSeparator = '/';
// By full path, local, resolved at once: the module later finds a component
// by its SONAME (dlopen with RTLD_NOLOAD), which only sees what is already loaded.
void* OpenModule(const std::string& name) {
    const size_t folder = name.find_last_of(kFolderSeparator) + 1;  // 0 without a folder
    const std::string path = ExecutableDirectory() + "/" + name.substr(0, folder) + "lib" + name.substr(folder) + ".so";
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void CloseModule(void* module) { dlclose(module); }
bool StillLoaded(const std::string& name) {
    void* module = dlopen(("lib" + name + ".so").c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (module != nullptr) dlclose(module);
    return module != nullptr;
}
void* FindSymbol(void* module, const char* name) { return dlsym(module, name); }
std::string LoadFailure() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown error";
}
#endif

template <typename Fn>
Fn As(void* symbol) {
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

class Host::TableImpl final : public SurfaceTable {
public:
    explicit TableImpl(Host& host) : host_(host) {}
    HostSurface* VS_THISCALL GetSurface(int32_t number) override {
        HostCall call{};
        call.op = HostOp::GetSurface;
        call.target = this;
        call.argCount = 1;
        call.args[0] = number;
        Record(&host_.log_, call);
        return host_.Surface(number);
    }

private:
    Host& host_;
};

class Host::UpdaterImpl final : public ScreenUpdater {
public:
    explicit UpdaterImpl(Host& host) : host_(host) {}
    void VS_THISCALL UpdateRect(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height) override {
        HostCall call{};
        call.op = HostOp::UpdateRect;
        call.target = this;
        call.argCount = 5;
        int32_t args[5] = {number, x, y, width, height};
        std::memcpy(call.args, args, sizeof(args));
        Record(&host_.log_, call);
    }

private:
    Host& host_;
};

Host::Host(const HostOptions& options)
    : table_(std::make_unique<TableImpl>(*this)), updater_(std::make_unique<UpdaterImpl>(*this)) {
    if (hostAlive) throw std::logic_error("one reference host at a time: they would share the module");
    log_.append = options.logCalls ? AppendCall : nullptr;
    log_.context = &calls_;
    componentFolder_ = options.componentFolder;
    const bool wanted[3] = {options.loadCorvane, options.loadPlatewright, options.loadPixmill};
    try {
        // The components first: the engine has them loaded before the plug-in's first Begin.
        for (int i = 0; i < 3; ++i) {
            if (!wanted[i]) {
                // An earlier host's copy left behind would be found by the module.
                if (StillLoaded(kComponentNames[i]))
                    throw std::runtime_error(std::string(kComponentNames[i]) + " is still loaded");
                continue;
            }
            components_[i] = LoadComponent(kComponentNames[i], options.withoutFactory == static_cast<Component>(i));
            controls_[i] = As<GetComponentControlFn>(Symbol(components_[i], kControlExport))();
            *controls_[i] = ComponentControl{};
            controls_[i]->log = &log_;
        }
        if (options.loadModule) {
            module_ = OpenModule("Veilshift");
            if (module_ == nullptr) throw std::runtime_error("Veilshift: " + LoadFailure());
            createInterface_ = As<CreateInterfaceFn>(Symbol(module_, "CreateInterface"));
            begin_ = As<BeginFn>(Symbol(module_, "Begin"));
            draw_ = As<DrawFn>(Symbol(module_, "Draw"));
            end_ = As<EndFn>(Symbol(module_, "End"));
        }
    } catch (...) {
        if (module_ != nullptr) CloseModule(module_);
        for (void* component : components_)
            if (component != nullptr) CloseModule(component);
        throw;
    }
    hostAlive = true;
    if (module_ == nullptr) return;
    plugin_ = createInterface_(&kPluginGuid);
    if (plugin_ == nullptr) return;
    if (options.surfaceTableFirst && options.giveSurfaceTable) GiveSurfaceTable();
    if (options.giveScreenUpdater) GiveScreenUpdater();
    if (!options.surfaceTableFirst && options.giveSurfaceTable) GiveSurfaceTable();
}

Host::~Host() {
    UnloadModule();
    for (int i = 2; i >= 0; --i) {
        if (components_[i] == nullptr) continue;
        controls_[i]->log = nullptr;  // in case the component outlives this host
        CloseModule(components_[i]);
    }
    hostAlive = false;
}

void Host::UnloadModule() {
    if (module_ == nullptr) return;
    CloseModule(module_);
    module_ = nullptr;
    createInterface_ = nullptr;
    begin_ = nullptr;
    draw_ = nullptr;
    end_ = nullptr;
    plugin_ = nullptr;
}

void* Host::LoadComponent(const char* name, bool withoutFactory) {
    const std::string folder = withoutFactory ? std::string("without-factory") : componentFolder_;
    void* module = OpenModule(folder.empty() ? std::string(name) : folder + kFolderSeparator + name);
    if (module == nullptr) throw std::runtime_error(std::string(name) + ": " + LoadFailure());
    return module;
}

void* Host::Symbol(void* module, const char* name) const {
    void* symbol = FindSymbol(module, name);
    if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return symbol;
}

PluginInterface* Host::CreateInterface(const Guid* id) { return createInterface_(id); }

bool Host::Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
                 int32_t by, int32_t width, int32_t height, int32_t effect) {
    return begin_(dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect);
}

void Host::Draw(int32_t progress, int32_t total) { draw_(progress, total); }
void Host::End() { end_(); }

ScreenUpdater* Host::Updater() { return updater_.get(); }
SurfaceTable* Host::Table() { return table_.get(); }
void Host::GiveScreenUpdater() { plugin_->SetInterface(&kScreenUpdaterId, Updater()); }
void Host::GiveSurfaceTable() { plugin_->SetInterface(&kSurfaceTableId, Table()); }

TestSurface& Host::AddSurface(int32_t number, int32_t width, int32_t height, int32_t pitch) {
    auto& slot = surfaces_[number];
    slot = std::make_unique<TestSurface>(width, height, pitch, &log_);
    return *slot;
}

void Host::RemoveSurface(int32_t number) { surfaces_.erase(number); }

TestSurface* Host::Surface(int32_t number) {
    auto found = surfaces_.find(number);
    return found != surfaces_.end() ? found->second.get() : nullptr;
}

bool Host::SurfacesIntact() const {
    for (const auto& [number, surface] : surfaces_)
        if (!surface->GuardsIntact()) return false;
    return true;
}

ComponentControl* Host::Control(Component component) const { return controls_[static_cast<int>(component)]; }

ComponentFactoryFn Host::Factory(Component component) const {
    void* module = components_[static_cast<int>(component)];
    if (module == nullptr) return nullptr;
    return As<ComponentFactoryFn>(Symbol(module, kFactoryNames[static_cast<int>(component)]));
}

std::vector<HostCall> Host::CallsOf(HostOp op) const {
    std::vector<HostCall> found;
    for (const HostCall& call : calls_)
        if (call.op == op) found.push_back(call);
    return found;
}

std::vector<HostOp> Host::Ops() const {
    std::vector<HostOp> ops;
    for (const HostCall& call : calls_) ops.push_back(call.op);
    return ops;
}

const char* OpName(HostOp op) {
    static const char* const kNames[] = {"Factory", "GetSurface", "UpdateRect", "Release",
                                         "PixelAddress", "Width", "Height", "Pitch",
                                         "CreateSurface", "IsReady", "SetFlag", "Copy",
                                         "CopyAxisX", "CopyAxisY", "LookupInterface", "GetTime"};
    auto index = static_cast<size_t>(op);
    return index < std::size(kNames) ? kNames[index] : "?";
}

std::ostream& operator<<(std::ostream& out, const HostCall& call) {
    out << call.op << '(';
    for (int32_t i = 0; i < call.argCount && i < 7; ++i) out << (i > 0 ? ", " : "") << call.args[i];
    return out << ')';
}

}  // namespace refhost
