#include "cli/command_line.h"
#include "cli/process.h"

int main(int argc, char* argv[]) {
  // Before anything can load a DLL by its bare name.
  kestrine::RestrictDllSearchToSystemFolder();
  return kestrine::RunCommandLine(argc, argv);
}
