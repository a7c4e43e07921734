/* The floor Kestrine.exe is measured against: plain C that makes the same
 * platform calls and prints the same lines with printf, with no C++ runtime.
 *
 *   volume_baseline GetVolume | SetVolume LEVEL
 */
#define COBJMACROS
#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395,
    0xE52F,
    0x467C,
    {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const IID kIidIMMDeviceEnumerator = {
    0xA95664D2,
    0x9614,
    0x4F35,
    {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
static const IID kIidIAudioEndpointVolume = {
    0x5CDF2C82,
    0x841E,
    0x4546,
    {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};

/* One sequence: reads the level when |set| is zero, writes |scalar| else. */
static int Volume(int set, float scalar) {
  HRESULT com = CoInitialize(NULL);
  IMMDeviceEnumerator* enumerator = NULL;
  IMMDevice* device = NULL;
  IAudioEndpointVolume* volume = NULL;
  int ok = 0;
  if (SUCCEEDED(CoCreateInstance(&kClsidMMDeviceEnumerator, NULL,
                                 CLSCTX_INPROC_SERVER, &kIidIMMDeviceEnumerator,
                                 (void**)&enumerator)) &&
      SUCCEEDED(IMMDeviceEnumerator_GetDefaultAudioEndpoint(
          enumerator, eRender, eConsole, &device)) &&
      SUCCEEDED(IMMDevice_Activate(device, &kIidIAudioEndpointVolume,
                                   CLSCTX_INPROC_SERVER, NULL,
                                   (void**)&volume))) {
    if (set) {
      ok = SUCCEEDED(IAudioEndpointVolume_SetMasterVolumeLevelScalar(
          volume, scalar, NULL));
    } else {
      float level = 0.0f;
      ok = SUCCEEDED(
          IAudioEndpointVolume_GetMasterVolumeLevelScalar(volume, &level));
      if (ok) printf("Current volume level: %g%%\n", level * 100.0f);
    }
  }
  if (volume) IAudioEndpointVolume_Release(volume);
  if (device) IMMDevice_Release(device);
  if (enumerator) IMMDeviceEnumerator_Release(enumerator);
  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

int main(int argc, char* argv[]) {
  printf(
      "Kestrine Utility\nGets or Sets the audio volume level\n"
      "Copyright (c) 2026 The Kestrine Authors\n"
      "Provided as-is without warranty\n\n");
  if (argc > 1 && strcmp(argv[1], "GetVolume") == 0) return !Volume(0, 0.0f);
  if (argc > 2 && strcmp(argv[1], "SetVolume") == 0) {
    const double percent = strtod(argv[2], NULL);
    if (percent >= 0.0 && percent <= 100.0) {
      if (!Volume(1, (float)(percent / 100.0))) return 1;
      return !Volume(0, 0.0f);
    }
  }
  printf("usage: volume_baseline GetVolume | SetVolume LEVEL\n");
  return 0;
}
