#include "cli/console_text.h"

#include <iostream>

namespace kestrine {

void PrintUsage() {
  // Scripts match this text byte for byte, flushes included.
  std::cout << "Get or Set the audio volume for the default audio output "
               "device\n"
            << "Usage: \n"
            << "Kestrine [option]\n"
            << std::endl
            << "Options:" << std::endl
            << "GetVolume\n"
            << "SetVolume [0 to 100]\n"
            << "help or ?\n";
}

}  // namespace kestrine
