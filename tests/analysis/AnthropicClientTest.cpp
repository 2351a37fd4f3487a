#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "analysis/anthropic/AnthropicClient.h"
#include "platform/Cancellation.h"
#include "platform/HttpClient.h"
#include "platform/JsonReader.h"
#include "support/FakeService.h"
#include "support/ModelAnswers.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ScriptedResponse;

constexpr const char* kKey = "test-key-1234567890";

// The waits the client asked for, in seconds; nobody actually waits.
struct RecordedPauses {
  std::vector<double> waits;
  AnthropicClient::Pauses pauses() {
    return {.wait =
                [this](std::chrono::duration<double> duration, const std::stop_token& stop) {
                  waits.push_back(duration.count());
                  throwIfCancelled(stop);
                },
            .jitter = [] { return 0.25; }};
  }
};

class AnthropicClientTest : public ::testing::Test {
 protected:
  testing::FakeService service{"BRISKLET_ANTHROPIC_BASE_URL"};
  RecordedPauses pauses;
  AnthropicClient client{kKey, "claude-sonnet-5", pauses.pauses()};
  const nlohmann::json system = {{{"type", "text"}, {"text", "You edit vlogs."}}};
  const nlohmann::json messages = {{{"role", "user"}, {"content", "Hello"}}};

  AnthropicClient::Completion complete(std::optional<nlohmann::json> schema = std::nullopt) {
    return client.complete(system, messages, schema, 16000, {});
  }

  // The error a failing call throws.
  AnthropicAPIError apiError() {
    try {
      complete();
    } catch (const AnthropicAPIError& error) {
      return error;
    }
    ADD_FAILURE() << "the call did not fail with an API error";
    return AnthropicAPIError(-1, "");
  }
};

TEST_F(AnthropicClientTest, SendsTheRequestTheMessagesApiExpects) {
  service.enqueue(testing::modelAnswer("{}"));
  service.enqueue(testing::modelAnswer("plain"));
  const nlohmann::json schema = {{"type", "object"}};
  EXPECT_EQ(complete(schema).text, "{}");
  EXPECT_EQ(complete().text, "plain");

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/v1/messages");
  EXPECT_EQ(requests[0].headers.at("content-type"), "application/json");
  EXPECT_EQ(requests[0].headers.at("x-api-key"), kKey);
  EXPECT_EQ(requests[0].headers.at("anthropic-version"), "2023-06-01");
  const auto body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(body["model"], "claude-sonnet-5");
  EXPECT_EQ(body["max_tokens"], 16000);
  EXPECT_EQ(body["system"], system);
  EXPECT_EQ(body["messages"], messages);
  EXPECT_EQ(body["output_config"],
            (nlohmann::json{{"format", {{"type", "json_schema"}, {"schema", schema}}}}));
  EXPECT_THAT(requests[0].body, Not(HasSubstr("\n"))) << "plain JSON, not pretty-printed";
  EXPECT_FALSE(nlohmann::json::parse(requests[1].body).contains("output_config"));
}

TEST_F(AnthropicClientTest, AnInvalidKeyFailsAtOnce) {
  service.enqueue(
      {.status = 401,
       .body =
           R"({"type":"error","error":{"type":"authentication_error","message":"invalid x-api-key"}})"});
  const AnthropicAPIError error = apiError();
  EXPECT_EQ(error.statusCode(), 401);
  EXPECT_EQ(error.message(), "invalid x-api-key");
  EXPECT_STREQ(error.what(), "Claude API error (401): invalid x-api-key");
  EXPECT_EQ(service.requests().size(), 1u);
  EXPECT_TRUE(pauses.waits.empty());
}

TEST_F(AnthropicClientTest, ServerErrorsAreTriedThreeTimesWithGrowingWaits) {
  for (int attempt = 0; attempt < 3; ++attempt) service.enqueue({.status = 500, .body = ""});
  const AnthropicAPIError error = apiError();
  EXPECT_EQ(error.statusCode(), 500);
  EXPECT_EQ(error.message(), "HTTP 500");
  EXPECT_EQ(service.requests().size(), 3u);
  EXPECT_THAT(pauses.waits, ElementsAre(2.25, 4.25));
}

TEST_F(AnthropicClientTest, RateLimitsWaitAsToldWhenTheHeaderIsANumber) {
  service.enqueue({.status = 429, .body = "{}", .headers = {{"retry-after", "7"}}});
  service.enqueue({.status = 429, .body = "{}", .headers = {{"retry-after", "soon"}}});
  service.enqueue(testing::modelAnswer("done"));
  EXPECT_EQ(complete().text, "done");
  EXPECT_THAT(pauses.waits, ElementsAre(7.0, 4.25));
}

TEST_F(AnthropicClientTest, AnswersThatAreNotObjectsFailWithoutRetry) {
  service.enqueue({.body = "[]"});
  const AnthropicAPIError error = apiError();
  EXPECT_EQ(error.statusCode(), 200);
  EXPECT_EQ(error.message(), "Unparseable response body");
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(AnthropicClientTest, TextBlocksAreJoinedAndOtherBlocksSkipped) {
  service.enqueue({.body = R"({"content":[{"type":"text","text":"ab"},{"type":"tool_use","id":"x"},
                               {"type":"text","text":"cd"},{"type":"text"},"stray"]})"});
  service.enqueue(testing::modelAnswer("", "refusal"));
  service.enqueue({.body = R"({"content":"not a list","stop_reason":5})"});
  const auto joined = complete();
  EXPECT_EQ(joined.text, "abcd");
  EXPECT_FALSE(joined.stopReason);
  EXPECT_EQ(complete().stopReason, "refusal");
  const auto odd = complete();
  EXPECT_EQ(odd.text, "");
  EXPECT_FALSE(odd.stopReason);
}

TEST_F(AnthropicClientTest, BodiesThatAreNotJsonAreRetriedAndHostileOnesRefused) {
  service.enqueue({.body = "<html>gateway</html>"});
  service.enqueue({.body = std::string(100000, '[')});  // nesting far deeper than allowed
  service.enqueue({.body = "{\"content\": [" + std::string(50000, '{')});
  EXPECT_THROW(complete(), JsonSyntaxError);
  EXPECT_EQ(service.requests().size(), 3u);
  EXPECT_THAT(pauses.waits, ElementsAre(2.0, 4.0));
}

TEST_F(AnthropicClientTest, AnAnswerLargerThan64MiBFailsTheAttempt) {
  service.enqueue({.body = std::string(std::size_t{64} << 20 | 1, 'x')});
  service.enqueue(testing::modelAnswer("after"));
  EXPECT_EQ(complete().text, "after");
  EXPECT_THAT(pauses.waits, ElementsAre(2.0)) << "the first attempt failed and was retried";

  HttpRequest request;
  request.method = "GET";
  request.url = service.baseAddress() + "/huge";
  request.maximumResponseBytes = 1000;
  service.enqueue({.body = std::string(1001, 'x')});
  try {
    sendHttpRequest(request, {});
    ADD_FAILURE() << "a huge answer was accepted";
  } catch (const HttpTransportError& error) {
    EXPECT_THAT(error.what(), HasSubstr("larger than"));
  }
}

TEST(AnthropicClient, ANetworkFailureIsRetriedAndNeverShowsTheKey) {
  RecordedPauses pauses;
  setenv("BRISKLET_ANTHROPIC_BASE_URL", "http://127.0.0.1:1", 1);  // nobody listens there
  const AnthropicClient client(kKey, "claude-sonnet-5", pauses.pauses());
  unsetenv("BRISKLET_ANTHROPIC_BASE_URL");
  try {
    client.complete({}, {}, std::nullopt, 10, {});
    ADD_FAILURE() << "the call succeeded";
  } catch (const HttpTransportError& error) {
    EXPECT_THAT(error.what(), Not(HasSubstr(kKey)));
  }
  EXPECT_THAT(pauses.waits, ElementsAre(2.0, 4.0));
}

TEST_F(AnthropicClientTest, AKeyWithALineBreakInsideIsNeverSent) {
  const std::string pasted = std::string(kKey) + "\r\nX-Injected: yes";
  const AnthropicClient broken(pasted, "claude-sonnet-5", pauses.pauses());
  try {
    broken.complete({}, {}, std::nullopt, 10, {});
    ADD_FAILURE() << "the call succeeded";
  } catch (const HttpTransportError& error) {
    EXPECT_THAT(error.what(), HasSubstr("line break"));
    EXPECT_THAT(error.what(), Not(HasSubstr(kKey)));
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(AnthropicClientTest, CancellingStopsAWaitAndATransferUnderWay) {
  service.enqueue({.status = 503, .body = ""});
  std::stop_source stop;
  AnthropicClient cancelledWhileWaiting(kKey, "claude-sonnet-5",
                                        {.wait =
                                             [&](auto, const std::stop_token& token) {
                                               stop.request_stop();
                                               throwIfCancelled(token);
                                             },
                                         .jitter = [] { return 0.0; }});
  EXPECT_THROW(cancelledWhileWaiting.complete(system, messages, std::nullopt, 10, stop.get_token()),
               Cancelled);

  testing::ScriptedResponse late = testing::modelAnswer("late");
  late.delayMilliseconds = 3000;
  service.enqueue(late);
  std::stop_source transfer;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    transfer.request_stop();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(client.complete(system, messages, std::nullopt, 10, transfer.get_token()),
               Cancelled);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500))
      << "the transfer went on after the cancellation";
}

TEST(AnthropicClient, RealWaitsEndWhenCancelled) {
  const auto pauses = AnthropicClient::realPauses();
  std::stop_source stop;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  EXPECT_THROW(pauses.wait(std::chrono::hours(1), stop.get_token()), Cancelled);
  canceller.join();
}

}  // namespace
}  // namespace brisklet
