#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliCommand.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("brisklet-cli");
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return brisklet::cli::runCli(arguments, brisklet::ProjectStore::shared(), std::cout, std::cerr);
}
