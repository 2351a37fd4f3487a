#define CPPHTTPLIB_OPENSSL_SUPPORT
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "app/UpdateCheck.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// A release feed over HTTPS on 127.0.0.1, with a certificate made for the test and trusted by
// the checker alone.
class FeedServer {
 public:
  explicit FeedServer(const std::filesystem::path& folder)
      : certificate_(folder / "feed.pem"), key_(folder / "feed.key") {
    testing::runCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                         "-keyout", key_.string(), "-out", certificate_.string()});
    server_ = std::make_unique<httplib::SSLServer>(certificate_.c_str(), key_.c_str());
    server_->Get("/feed.json", [this](const httplib::Request&, httplib::Response& response) {
      response.status = status_;
      response.set_content(body_, "application/json");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    listener_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FeedServer() {
    server_->stop();
    listener_.join();
  }

  void answer(std::string body, int status = 200) {
    body_ = std::move(body);
    status_ = status;
  }
  // As the checker sees it, trusting the test's certificate or only the system's authorities.
  UpdateCheckResult check(const std::string& running = "0.1.0", bool trusted = true) const {
    return checkForUpdates({.feedURL = "https://127.0.0.1:" + std::to_string(port_) + "/feed.json",
                            .currentVersion = running,
                            .certificateAuthorities = trusted ? certificate_.string() : ""});
  }

 private:
  std::filesystem::path certificate_, key_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread listener_;
  std::string body_;
  int status_ = 200;
};

using Outcome = UpdateCheckResult::Outcome;

TEST(UpdateCheck, ReadsTheFeedAndComparesVersionsAsNumbers) {
  testing::TemporaryFolder folder;
  FeedServer feed(folder.path());
  feed.answer(R"({"version": "0.10.0", "page": "https://example.org/brisklet/0.10.0"})");
  const UpdateCheckResult newer = feed.check("0.9.3");
  EXPECT_EQ(newer.outcome, Outcome::updateAvailable);
  EXPECT_EQ(newer.message,
            "Brisklet 0.10.0 is available (you have 0.9.3). Install it through your system's "
            "package manager. What's new: https://example.org/brisklet/0.10.0");
  feed.answer(R"({"version": "0.1.0"})");
  const UpdateCheckResult same = feed.check("0.1.0");
  EXPECT_EQ(same.outcome, Outcome::upToDate);
  EXPECT_EQ(same.message, "You're up to date: Brisklet 0.1.0 is the newest version.");
}

TEST(UpdateCheck, EveryFailureSaysWhatWentWrongAndNeverUpToDate) {
  testing::TemporaryFolder folder;
  FeedServer feed(folder.path());
  const auto failsWith = [](const UpdateCheckResult& result, const std::string& words) {
    EXPECT_EQ(result.outcome, Outcome::failed) << result.message;
    EXPECT_EQ(result.message.rfind("Could not check for updates: ", 0), 0u) << result.message;
    EXPECT_NE(result.message.find(words), std::string::npos) << result.message;
    EXPECT_EQ(result.message.find("up to date"), std::string::npos);
  };
  // A feed of 10 MB is not read to its end.
  feed.answer("{\"version\": \"9.9.9\", \"page\": \"https://x/" + std::string(10 << 20, 'a') +
              "\"}");
  failsWith(feed.check(), "larger than");
  for (const char* malformed :
       {"<html>Not found</html>", R"({"version": 2})", R"({"version": "1.2"})",
        R"({"version": "1.2.3", "run": "sh"})",
        R"({"version": "1.2.3", "page": "http://plain.example"})", "[]", ""}) {
    feed.answer(malformed);
    failsWith(feed.check(), "feed");
  }
  feed.answer(R"({"version": "1.2.3"})", 404);
  failsWith(feed.check(), "HTTP status 404");

  // Plain HTTP is refused before anything is asked; so is a certificate nobody vouches for.
  failsWith(checkForUpdates({.feedURL = "http://127.0.0.1:9/feed.json", .currentVersion = "0.1.0"}),
            "must be an https:// address");
  feed.answer(R"({"version": "0.1.0"})");
  failsWith(feed.check("0.1.0", /*trusted=*/false), "request failed");
}

TEST(UpdateCheck, WithoutAFeedThePackageManagerIsNamed) {
  const UpdateCheckResult result = checkForUpdates({.feedURL = "", .currentVersion = "0.1.0"});
  EXPECT_EQ(result.outcome, Outcome::notConfigured);
  EXPECT_EQ(result.message, "Brisklet is updated through your system's package manager.");
}

}  // namespace
}  // namespace brisklet
