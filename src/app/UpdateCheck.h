#pragma once

#include <stop_token>
#include <string>

namespace brisklet {

// "Check for Updates…": reads the release feed named by BRISKLET_UPDATE_FEED_URL and says whether
// a newer Brisklet is out. It never downloads or runs anything; installing is the package
// manager's business. The feed is one small JSON record over HTTPS:
//   {"version": "0.2.0", "page": "https://…/releases/0.2.0"}
// with "page" optional (an https address where the release is described).
struct UpdateCheckResult {
  enum class Outcome { notConfigured, upToDate, updateAvailable, failed };
  Outcome outcome = Outcome::failed;
  // What the user is told, one or two sentences.
  std::string message;
};

struct UpdateCheckOptions {
  // The feed address; empty when none is set.
  std::string feedURL;
  // The version running, "major.minor.patch".
  std::string currentVersion;
  // A PEM file of certificate authorities to trust instead of the system's (tests).
  std::string certificateAuthorities = {};
};

// The feed's address from the environment, or empty.
std::string updateFeedURLFromEnvironment();

// Blocking (one HTTPS request of at most 64 KB, 20 s at most). "Up to date" only when the feed
// was read and names this version or an older one; every failure says what went wrong.
UpdateCheckResult checkForUpdates(const UpdateCheckOptions& options,
                                  const std::stop_token& stop = {});

}  // namespace brisklet
