#ifndef KESTRINE_VOLUME_VOLUME_H_
#define KESTRINE_VOLUME_VOLUME_H_

// The two volume operations on the default audio output device. Each one is
// a complete sequence of its own: COM is initialised, the device enumerator,
// the device and its endpoint volume are acquired, one volume call is made,
// and everything is released again before the operation returns.
//
// Both return false when a platform step failed; the failure has then been
// described on standard error and nothing further was written to standard
// output.

namespace kestrine {

// Writes "Current volume level: <percent>%" for the level the default output
// device holds now.
bool ReportCurrentVolume();

// Sets the master volume of the default output device to |percent|, which the
// caller guarantees lies within 0 to 100. Writes nothing to standard output.
bool ApplyVolumeLevel(double percent);

}  // namespace kestrine

#endif  // KESTRINE_VOLUME_VOLUME_H_
