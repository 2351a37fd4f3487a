#include "app/StartArguments.h"

#include <QByteArray>

namespace brisklet {
namespace {

// The local path of a file:// address: an empty or "localhost" host, the path percent-decoded
// to its bytes. None for another host.
std::optional<std::filesystem::path> localPathOf(const std::string& address) {
  std::string rest = address.substr(std::string("file://").size());
  const size_t pathStart = rest.find('/');
  if (pathStart == std::string::npos) return std::nullopt;
  const std::string host = rest.substr(0, pathStart);
  if (!host.empty() && host != "localhost") return std::nullopt;
  const QByteArray decoded =
      QByteArray::fromPercentEncoding(QByteArray::fromStdString(rest.substr(pathStart)));
  return std::filesystem::path(decoded.toStdString());
}

}  // namespace

std::string fileAddress(const std::filesystem::path& absolutePath) {
  return "file://" +
         QByteArray::fromStdString(absolutePath.string()).toPercentEncoding("/").toStdString();
}

StartArguments parseStartArguments(std::span<const std::string> arguments,
                                   const std::string& version) {
  StartArguments parsed;
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "-h" || argument == "--help")) {
      parsed.reply = kStartUsage;
      return parsed;
    } else if (!optionsEnded && argument == "--version") {
      parsed.reply = "Brisklet " + version + "\n";
      return parsed;
    } else if (!optionsEnded && argument.starts_with("-")) {
      parsed.usageError = "unknown option " + argument;
      return parsed;
    } else if (argument.starts_with("file://")) {
      const std::optional<std::filesystem::path> local = localPathOf(argument);
      if (!local) {
        parsed.usageError = argument + " is not on this computer";
        return parsed;
      }
      parsed.files.push_back(*local);
    } else {
      parsed.files.emplace_back(argument);
    }
  }
  return parsed;
}

}  // namespace brisklet
