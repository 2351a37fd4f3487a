#include "app/UpdateCheck.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/HttpClient.h"

namespace brisklet {
namespace {

constexpr std::size_t kLargestFeedBytes = 64 * 1024;
constexpr const char* kFailurePrefix = "Could not check for updates: ";

using Version = std::array<long, 3>;

// "1.2.3" and nothing else: three whole numbers of at most six digits.
std::optional<Version> parseVersion(const std::string& text) {
  Version version{};
  const char* cursor = text.data();
  const char* const end = text.data() + text.size();
  for (std::size_t part = 0; part < version.size(); ++part) {
    if (part > 0) {
      if (cursor == end || *cursor != '.') return std::nullopt;
      ++cursor;
    }
    const char* const start = cursor;
    const auto [next, error] = std::from_chars(cursor, end, version[part]);
    if (error != std::errc() || next == start || next - start > 6) return std::nullopt;
    cursor = next;
  }
  if (cursor != end) return std::nullopt;
  return version;
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

UpdateCheckResult failed(const std::string& why) {
  return {UpdateCheckResult::Outcome::failed, kFailurePrefix + why};
}

// The newest version the feed names, and where it is described; throws std::invalid_argument
// with a sentence when the record is not exactly what the feed must hold.
std::pair<Version, std::string> readFeed(const std::string& body) {
  const nlohmann::json feed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!feed.is_object()) throw std::invalid_argument("the feed is not a release record.");
  for (const auto& [key, value] : feed.items())
    if (key != "version" && key != "page")
      throw std::invalid_argument("the feed has an unknown field “" + key + "”.");
  const auto version = feed.find("version");
  if (version == feed.end() || !version->is_string())
    throw std::invalid_argument("the feed names no version.");
  const std::optional<Version> parsed = parseVersion(version->get<std::string>());
  if (!parsed) throw std::invalid_argument("the feed's version is not of the form 1.2.3.");
  std::string page;
  if (const auto found = feed.find("page"); found != feed.end()) {
    if (!found->is_string() || !startsWith(found->get<std::string>(), "https://") ||
        found->get<std::string>().size() > 2000)
      throw std::invalid_argument("the feed's release page is not an https address.");
    page = found->get<std::string>();
  }
  return {*parsed, page};
}

std::string versionText(const Version& version) {
  return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
         std::to_string(version[2]);
}

}  // namespace

std::string updateFeedURLFromEnvironment() {
  const char* url = std::getenv("BRISKLET_UPDATE_FEED_URL");
  return url == nullptr ? std::string() : std::string(url);
}

UpdateCheckResult checkForUpdates(const UpdateCheckOptions& options, const std::stop_token& stop) {
  if (options.feedURL.empty())
    return {UpdateCheckResult::Outcome::notConfigured,
            "Brisklet is updated through your system's package manager."};
  if (!startsWith(options.feedURL, "https://"))
    return failed("the update feed must be an https:// address, and “" + options.feedURL +
                  "” is not one.");
  const std::optional<Version> current = parseVersion(options.currentVersion);
  if (!current) return failed("this build does not know its own version.");

  HttpRequest request;
  request.method = "GET";
  request.url = options.feedURL;
  request.timeout = std::chrono::seconds(20);
  request.maximumResponseBytes = kLargestFeedBytes;
  request.certificateAuthorities = options.certificateAuthorities;
  request.allowedSchemes = "https";
  HttpResponse response;
  try {
    response = sendHttpRequest(request, stop);
  } catch (const HttpTransportError& error) {
    return failed(error.what());
  }
  if (response.status != 200)
    return failed("the update feed answered with HTTP status " + std::to_string(response.status) +
                  ".");
  try {
    const auto [newest, page] = readFeed(response.body);
    if (newest <= *current)
      return {UpdateCheckResult::Outcome::upToDate,
              "You're up to date: Brisklet " + versionText(*current) + " is the newest version."};
    return {UpdateCheckResult::Outcome::updateAvailable,
            "Brisklet " + versionText(newest) + " is available (you have " + versionText(*current) +
                "). Install it through your system's package manager." +
                (page.empty() ? "" : " What's new: " + page)};
  } catch (const std::invalid_argument& error) {
    return failed(error.what());
  }
}

}  // namespace brisklet
