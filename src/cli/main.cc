#include "cli/command_line.h"

int main(int argc, char* argv[]) {
  return kestrine::RunCommandLine(argc, argv);
}
