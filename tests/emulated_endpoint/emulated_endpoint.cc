// An emulated default audio output device, served as the MMDeviceEnumerator
// COM class, for running Kestrine where the platform's Core Audio is a stub.
//
// Driven by environment variables that the volume program itself never reads:
//   KESTRINE_EMULATED_STATE  file holding the master level between runs
//                            (default: emulated_endpoint.state beside the DLL)
//   KESTRINE_EMULATED_LOG    file to append one line per call to (default: off)
//   KESTRINE_EMULATED_FAIL   "<step>=<hresult>" makes one step fail, where step
//                            is create, endpoint, activate, get or set, and
//                            hresult is a number or "null" for a call that
//                            succeeds without handing back a reference.
//   KESTRINE_EMULATED_LOAD   a DLL name to load by bare name, as platform
//                            components load their helpers, while the
//                            enumerator is created; the log tells whether
//                            the load found it.

#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "volume/core_audio_ids.h"

namespace {

constexpr float kInitialLevel = 0.5f;

HMODULE g_module = nullptr;
LONG g_objects_alive = 0;
LONG g_server_locks = 0;

std::string Environment(const char* name) {
  char value[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return std::string();
  return std::string(value, length);
}

void Log(const char* format, ...) {
  const std::string path = Environment("KESTRINE_EMULATED_LOG");
  if (path.empty()) return;
  FILE* log = std::fopen(path.c_str(), "ab");
  if (log == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(log, format, arguments);
  va_end(arguments);
  std::fputc('\n', log);
  std::fclose(log);
}

std::string GuidText(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof text,
                "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string ContextText(LPCGUID context) {
  return context == nullptr ? "null" : GuidText(*context);
}

unsigned long Bits(float value) {
  unsigned int bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FromBits(unsigned long bits) {
  const unsigned int narrow = static_cast<unsigned int>(bits);
  float value;
  std::memcpy(&value, &narrow, sizeof value);
  return value;
}

// The failure configured for |step|, if any. A configured "null" is reported
// as S_OK with |deliver_null| set.
HRESULT InjectedResult(const char* step, bool* deliver_null) {
  *deliver_null = false;
  const std::string setting = Environment("KESTRINE_EMULATED_FAIL");
  const std::string prefix = std::string(step) + "=";
  if (setting.compare(0, prefix.size(), prefix) != 0) return S_OK;
  const std::string value = setting.substr(prefix.size());
  if (value == "null") {
    *deliver_null = true;
    return S_OK;
  }
  return static_cast<HRESULT>(std::strtoul(value.c_str(), nullptr, 0));
}

std::string StatePath() {
  std::string path = Environment("KESTRINE_EMULATED_STATE");
  if (!path.empty()) return path;
  char module_path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(g_module, module_path, MAX_PATH);
  path.assign(module_path, length);
  return path.substr(0, path.find_last_of("\\/") + 1) +
         "emulated_endpoint.state";
}

// The level is stored as the exact bits of the single-precision scalar.
float LoadLevel() {
  FILE* state = std::fopen(StatePath().c_str(), "rb");
  if (state == nullptr) return kInitialLevel;
  unsigned long bits = 0;
  const bool read = std::fscanf(state, "%lx", &bits) == 1;
  std::fclose(state);
  return read ? FromBits(bits) : kInitialLevel;
}

void StoreLevel(float level) {
  FILE* state = std::fopen(StatePath().c_str(), "wb");
  if (state == nullptr) return;
  std::fprintf(state, "0x%08lx\n", Bits(level));
  std::fclose(state);
}

const char* ApartmentText() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return "none";
  switch (type) {
    case APTTYPE_STA:
    case APTTYPE_MAINSTA:
      return "sta";
    case APTTYPE_MTA:
      return "mta";
    default:
      return "other";
  }
}

// Loads |name| the way a platform component loads a helper, without a path,
// so that the process's DLL search decides where it comes from.
void LoadByBareName(const std::string& name) {
  if (name.empty()) return;
  const HMODULE helper = LoadLibraryA(name.c_str());
  Log("load %s -> %s", name.c_str(),
      helper != nullptr ? "loaded" : "not found");
  if (helper != nullptr) FreeLibrary(helper);
}

// Reference counting and logging shared by the three emulated objects.
template <typename Interface>
class Emulated : public Interface {
 public:
  Emulated(const char* name, REFIID iid) : name_(name), iid_(iid) {
    InterlockedIncrement(&g_objects_alive);
  }
  virtual ~Emulated() { InterlockedDecrement(&g_objects_alive); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    Log("%s.QueryInterface iid=%s", name_, GuidText(iid).c_str());
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, iid_)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    const LONG count = InterlockedIncrement(&references_);
    Log("%s.AddRef left=%ld", name_, count);
    return count;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&references_);
    Log("%s.Release left=%ld", name_, count);
    if (count == 0) delete this;
    return count;
  }

 protected:
  HRESULT Unexpected(const char* method) {
    Log("unexpected %s.%s", name_, method);
    return E_NOTIMPL;
  }

 private:
  const char* name_;
  const IID iid_;
  LONG references_ = 1;
};

class EndpointVolume : public Emulated<IAudioEndpointVolume> {
 public:
  EndpointVolume()
      : Emulated("endpoint_volume", kestrine::IID_IAudioEndpointVolume) {}

  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override {
    bool deliver_null;
    const HRESULT injected = InjectedResult("get", &deliver_null);
    Log("endpoint_volume.GetMasterVolumeLevelScalar -> 0x%08lX",
        static_cast<unsigned long>(injected));
    if (FAILED(injected)) return injected;
    if (level == nullptr) return E_POINTER;
    *level = LoadLevel();
    Log("endpoint_volume.level 0x%08lx", Bits(*level));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  SetMasterVolumeLevelScalar(float level, LPCGUID event_context) override {
    bool deliver_null;
    const HRESULT injected = InjectedResult("set", &deliver_null);
    Log("endpoint_volume.SetMasterVolumeLevelScalar level=0x%08lx "
        "context=%s -> 0x%08lX",
        Bits(level), ContextText(event_context).c_str(),
        static_cast<unsigned long>(injected));
    if (FAILED(injected)) return injected;
    if (!(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
    // A device holds silence without a sign: -0 is kept, and read back, as 0.
    StoreLevel(level == 0.0f ? 0.0f : level);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE
  RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
    return Unexpected("RegisterControlChangeNotify");
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
    return Unexpected("UnregisterControlChangeNotify");
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT*) override {
    return Unexpected("GetChannelCount");
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override {
    return Unexpected("SetMasterVolumeLevel");
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override {
    return Unexpected("GetMasterVolumeLevel");
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float,
                                                  LPCGUID) override {
    return Unexpected("SetChannelVolumeLevel");
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float,
                                                        LPCGUID) override {
    return Unexpected("SetChannelVolumeLevelScalar");
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override {
    return Unexpected("GetChannelVolumeLevel");
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override {
    return Unexpected("GetChannelVolumeLevelScalar");
  }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL, LPCGUID) override {
    return Unexpected("SetMute");
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL*) override {
    return Unexpected("GetMute");
  }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override {
    return Unexpected("GetVolumeStepInfo");
  }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override {
    return Unexpected("VolumeStepUp");
  }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override {
    return Unexpected("VolumeStepDown");
  }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override {
    return Unexpected("QueryHardwareSupport");
  }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override {
    return Unexpected("GetVolumeRange");
  }
};

// Hands out |object| through |out| unless |step| is told to fail; then the
// object is dropped and |out| is left null.
template <typename Object>
HRESULT Deliver(const char* step, Object* object, void** out) {
  bool deliver_null;
  const HRESULT injected = InjectedResult(step, &deliver_null);
  if (FAILED(injected) || deliver_null) {
    delete object;
    *out = nullptr;
    return injected;
  }
  *out = object;
  return S_OK;
}

class Device : public Emulated<IMMDevice> {
 public:
  Device() : Emulated("device", __uuidof(IMMDevice)) {}

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD class_context,
                                     PROPVARIANT* activation_parameters,
                                     void** out) override {
    Log("device.Activate iid=%s clsctx=0x%lx params=%s", GuidText(iid).c_str(),
        static_cast<unsigned long>(class_context),
        activation_parameters == nullptr ? "null" : "set");
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, kestrine::IID_IAudioEndpointVolume))
      return E_NOINTERFACE;
    return Deliver("activate", new EndpointVolume, out);
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD,
                                              IPropertyStore**) override {
    return Unexpected("OpenPropertyStore");
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override {
    return Unexpected("GetId");
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD*) override {
    return Unexpected("GetState");
  }
};

class DeviceEnumerator : public Emulated<IMMDeviceEnumerator> {
 public:
  DeviceEnumerator()
      : Emulated("enumerator", kestrine::IID_IMMDeviceEnumerator) {}

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                    IMMDevice** out) override {
    Log("enumerator.GetDefaultAudioEndpoint flow=%d role=%d",
        static_cast<int>(flow), static_cast<int>(role));
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (flow != eRender) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return Deliver("endpoint", new Device, reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD,
                                               IMMDeviceCollection**) override {
    return Unexpected("EnumAudioEndpoints");
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override {
    return Unexpected("GetDevice");
  }
  HRESULT STDMETHODCALLTYPE
  RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return Unexpected("RegisterEndpointNotificationCallback");
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return Unexpected("UnregisterEndpointNotificationCallback");
  }
};

// The class object lives as long as the DLL; only its locks are counted.
class ClassFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) ||
        IsEqualIID(iid, __uuidof(IClassFactory))) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    InterlockedIncrement(&g_server_locks);
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    InterlockedDecrement(&g_server_locks);
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** out) override {
    Log("factory.CreateInstance outer=%s iid=%s apartment=%s",
        outer == nullptr ? "null" : "set", GuidText(iid).c_str(),
        ApartmentText());
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    LoadByBareName(Environment("KESTRINE_EMULATED_LOAD"));
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!IsEqualIID(iid, kestrine::IID_IMMDeviceEnumerator) &&
        !IsEqualIID(iid, __uuidof(IUnknown))) {
      return E_NOINTERFACE;
    }
    return Deliver("create", new DeviceEnumerator, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&g_server_locks);
    } else {
      InterlockedDecrement(&g_server_locks);
    }
    return S_OK;
  }
};

ClassFactory g_class_factory;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
    Log("load");
  } else if (reason == DLL_PROCESS_DETACH) {
    // Unloaded early by CoUninitialize, or still loaded at process exit.
    Log("detach %s alive=%ld", reserved == nullptr ? "unload" : "exit",
        g_objects_alive);
  }
  return TRUE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  Log("DllGetClassObject clsid=%s", GuidText(clsid).c_str());
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kestrine::CLSID_MMDeviceEnumerator)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return g_class_factory.QueryInterface(iid, out);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_objects_alive == 0 && g_server_locks == 0 ? S_OK : S_FALSE;
}

}  // extern "C"
