#ifndef KESTRINE_VOLUME_CORE_AUDIO_IDS_H_
#define KESTRINE_VOLUME_CORE_AUDIO_IDS_H_

#include <windows.h>

namespace kestrine {

// Spelled out rather than taken from a uuid library, so that the identifiers
// the program asks for are plain to see.
inline constexpr CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395,
    0xE52F,
    0x467C,
    {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
inline constexpr IID IID_IMMDeviceEnumerator = {
    0xA95664D2,
    0x9614,
    0x4F35,
    {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
inline constexpr IID IID_IAudioEndpointVolume = {
    0x5CDF2C82,
    0x841E,
    0x4546,
    {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};

}  // namespace kestrine

#endif  // KESTRINE_VOLUME_CORE_AUDIO_IDS_H_
