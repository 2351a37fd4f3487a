#include "platform/Log.h"

#include <unistd.h>

#include <string>

namespace brisklet {

void logLine(std::string_view message) {
  std::string line = "brisklet: ";
  line.append(message);
  line.push_back('\n');
  const char* remaining = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, remaining, left);
    if (written <= 0) return;  // a closed stderr loses the diagnostic; nothing else to do
    remaining += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace brisklet
