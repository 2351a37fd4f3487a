// A second process for the keychain tests: reads or stores the Anthropic key in whatever secret
// store its environment leads to, so a test can act as a session that has no Secret Service.
//   key-tool get          prints the key, or nothing when there is none
//   key-tool set VALUE
#include <cstring>
#include <iostream>

#include "model/KeychainStore.h"

int main(int argc, char** argv) {
  using brisklet::KeychainStore::Key;
  if (argc == 2 && std::strcmp(argv[1], "get") == 0) {
    std::cout << brisklet::KeychainStore::get(Key::anthropic).value_or("");
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "set") == 0) {
    brisklet::KeychainStore::set(argv[2], Key::anthropic);
    return 0;
  }
  std::cerr << "usage: key-tool get | key-tool set VALUE\n";
  return 2;
}
