// The volume operations over Windows Core Audio.

#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <cstdio>
#include <iostream>

#include "volume/core_audio_ids.h"
#include "volume/volume.h"

namespace kestrine {
namespace {

void ReportFailure(const char* what, HRESULT result) {
  // What stdout holds goes first, so that merged streams keep their order.
  std::cout.flush();
  std::fprintf(stderr, "Kestrine: %s (0x%08lX)\n", what,
               static_cast<unsigned long>(result));
}

// A call that claims success but hands back no reference has still failed.
bool Delivered(HRESULT& result, const void* reference) {
  if (SUCCEEDED(result) && reference == nullptr) result = E_POINTER;
  return SUCCEEDED(result);
}

// Runs |volume_call| on the endpoint volume of the default output device for
// the console role, inside one COM initialisation. Every reference obtained is
// released in reverse order of acquisition; no call is made through one that
// was not obtained. Returns false, after saying why, if a step failed.
template <typename VolumeCall>
bool WithDefaultEndpointVolume(VolumeCall volume_call) {
  // The result only tells whether this call must be balanced: a thread that
  // already has COM in another mode can still use it.
  const HRESULT com_initialised = CoInitialize(nullptr);
  bool succeeded = false;

  IMMDeviceEnumerator* enumerator = nullptr;
  HRESULT result = CoCreateInstance(
      CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
      IID_IMMDeviceEnumerator, reinterpret_cast<void**>(&enumerator));
  if (!Delivered(result, enumerator)) {
    ReportFailure("cannot create the audio device enumerator", result);
  } else {
    IMMDevice* device = nullptr;
    result = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
    if (!Delivered(result, device)) {
      ReportFailure("no default audio output device", result);
    } else {
      IAudioEndpointVolume* endpoint_volume = nullptr;
      result =
          device->Activate(IID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER,
                           nullptr, reinterpret_cast<void**>(&endpoint_volume));
      if (!Delivered(result, endpoint_volume)) {
        ReportFailure(
            "cannot open the endpoint volume of the default audio output "
            "device",
            result);
      } else {
        succeeded = volume_call(endpoint_volume);
        endpoint_volume->Release();
      }
      device->Release();
    }
    enumerator->Release();
  }

  if (SUCCEEDED(com_initialised)) CoUninitialize();
  return succeeded;
}

}  // namespace

bool ReportCurrentVolume() {
  return WithDefaultEndpointVolume([](IAudioEndpointVolume* endpoint_volume) {
    float scalar = 0.0f;
    const HRESULT result = endpoint_volume->GetMasterVolumeLevelScalar(&scalar);
    if (FAILED(result)) {
      ReportFailure("cannot read the volume level", result);
      return false;
    }
    // Single precision on purpose: a double product can differ in the sixth
    // significant digit that the report shows.
    const float percent = scalar * 100.0f;
    std::cout << "Current volume level: " << percent << "%" << std::endl;
    return true;
  });
}

bool ApplyVolumeLevel(double percent) {
  return WithDefaultEndpointVolume(
      [percent](IAudioEndpointVolume* endpoint_volume) {
        const float scalar = static_cast<float>(percent / 100.0);
        const HRESULT result =
            endpoint_volume->SetMasterVolumeLevelScalar(scalar, nullptr);
        if (FAILED(result)) {
          ReportFailure("cannot set the volume level", result);
          return false;
        }
        return true;
      });
}

}  // namespace kestrine
