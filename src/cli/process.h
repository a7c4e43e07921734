#ifndef KESTRINE_CLI_PROCESS_H_
#define KESTRINE_CLI_PROCESS_H_

// What the program asks of, and learns from, its own Windows process.

namespace kestrine {

// Limits the DLL search of the whole process to the system folder, so that a
// DLL planted beside the program or in the current folder (a Downloads folder,
// say) is never loaded by a component that names a DLL without its path.
void RestrictDllSearchToSystemFolder();

// False when the process was started with no standard output handle at all,
// as a detached or windowless launch is.
bool HasStandardOutput();

}  // namespace kestrine

#endif  // KESTRINE_CLI_PROCESS_H_
