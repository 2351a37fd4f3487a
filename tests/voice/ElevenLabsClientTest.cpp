#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "platform/Cancellation.h"
#include "platform/HttpClient.h"
#include "support/FakeService.h"
#include "support/RawStandIn.h"
#include "support/TemporaryFolder.h"
#include "voice/ElevenLabsClient.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kKey = "el-key-SENTINEL-4b1f";

class ElevenLabsClientTest : public ::testing::Test {
 protected:
  testing::FakeService service{"BRISKLET_ELEVENLABS_BASE_URL"};
  std::vector<double> waits;
  // Waits are only noted; every upload's boundary carries one fixed identity.
  ElevenLabsClient::Surroundings surroundings() {
    return {.wait = [this](auto duration, const std::stop_token&) { waits.push_back(duration.count()); },
            .newUuid = [] { return *Uuid::parse("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9"); }};
  }
  ElevenLabsClient client{kKey, surroundings()};

  static std::string failureOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const std::exception& error) {
      return error.what();
    }
    return "(no failure)";
  }
};

TEST_F(ElevenLabsClientTest, TheCloneUploadIsTheMultipartBodyByteForByte) {
  testing::TemporaryFolder folder;
  const std::string sample("RIFF\r\n--\0wave\r\n\r\n--quorrel-", 28);
  testing::writeText(folder / "voice_sample.wav", sample);
  std::optional<testing::RawStandIn> raw(std::in_place, "BRISKLET_ELEVENLABS_BASE_URL", 201,
                                         R"({"voice_id":"NewVoice_01"})");
  EXPECT_EQ(ElevenLabsClient(kKey, surroundings())
                .createVoice("Brisklet \u2013 My Voice", folder / "voice_sample.wav"),
            "NewVoice_01");

  const std::string boundary = "quorrel-0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9";
  const std::string expected =
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n"
      "Brisklet \u2013 My Voice\r\n"
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"remove_background_noise\""
      "\r\n\r\ntrue\r\n"
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"files\"; "
      "filename=\"voice_sample.wav\"\r\nContent-Type: audio/wav\r\n\r\n" + sample +
      "\r\n--" + boundary + "--\r\n";
  const auto uploads = raw->requests();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_THAT(uploads[0].head, ::testing::StartsWith("POST /v1/voices/add HTTP/1.1\r\n"));
  EXPECT_THAT(uploads[0].head,
              HasSubstr("\r\nContent-Type: multipart/form-data; boundary=" + boundary + "\r\n"));
  EXPECT_THAT(uploads[0].head, HasSubstr(std::string("\r\nxi-api-key: ") + kKey + "\r\n"));
  EXPECT_EQ(uploads[0].body, expected);
  raw.reset();

  service.enqueue({.status = 200, .body = R"({"id":"elsewhere"})"});
  EXPECT_EQ(failureOf([&] { client.createVoice("x", folder / "voice_sample.wav"); }),
            "ElevenLabs error (200): No voice_id in response");
  service.enqueue({.status = 200, .body = "<html>Service Unavailable</html>", .contentType = "text/html"});
  EXPECT_EQ(failureOf([&] { client.createVoice("x", folder / "voice_sample.wav"); }),
            "ElevenLabs error (200): The answer was not the JSON the API sends.")
      << "a page where JSON belongs names the service";
  service.enqueue({.status = 200, .body = "<html>Sign in</html>", .contentType = "text/html"});
  EXPECT_EQ(failureOf([&] { client.textToSpeech("v1", "Hello."); }),
            "ElevenLabs error (200): The answer was not audio.");
  EXPECT_THAT(failureOf([&] { client.createVoice("x", folder / "missing.wav"); }),
              HasSubstr("missing.wav"));
  ASSERT_EQ(::mkfifo((folder / "pipe.wav").c_str(), 0600), 0);
  EXPECT_THAT(failureOf([&] { client.createVoice("x", folder / "pipe.wav"); }),
              HasSubstr("is a pipe, not a file"))
      << "refused at once, not read until something writes into it";
  EXPECT_EQ(service.requests().size(), 3u) << "an unreadable sample sends nothing";
}

TEST_F(ElevenLabsClientTest, RetriesWaitOneThenTwoSecondsAndErrorsCarryTheServicesWords) {
  const std::string html = "<html><body>" + std::string(400, 'x') + "</body></html>";
  for (int attempt = 0; attempt < 3; ++attempt)
    service.enqueue({.status = 503, .body = html, .contentType = "text/html"});
  EXPECT_EQ(failureOf([&] { client.listVoices(); }), "ElevenLabs error (503): HTTP 503")
      << "a gateway's web page is no sentence for a status line";
  EXPECT_THAT(waits, ElementsAre(1.0, 2.0));

  waits.clear();
  service.enqueue({.status = 401, .body = R"({"detail":{"status":"invalid","message":"Invalid API key"}})"});
  EXPECT_EQ(failureOf([&] { client.textToSpeech("voice1", "Hello."); }),
            "ElevenLabs error (401): Invalid API key");
  service.enqueue({.status = 400, .body = R"({"detail":"Quota exceeded"})"});
  EXPECT_EQ(failureOf([&] { client.textToSpeech("voice1", "Hello."); }),
            "ElevenLabs error (400): Quota exceeded");
  service.enqueue({.status = 422, .body = R"({"detail":[{"loc":["text"]}]})"});
  EXPECT_EQ(failureOf([&] { client.textToSpeech("voice1", "Hello."); }),
            "ElevenLabs error (422): HTTP 422");
  EXPECT_TRUE(waits.empty()) << "client errors are not retried";
  EXPECT_EQ(service.requests().size(), 6u);

  for (const auto& request : service.requests()) {
    EXPECT_EQ(request.headers.at("xi-api-key"), kKey);
    EXPECT_THAT(request.body + request.path, Not(HasSubstr("SENTINEL")));
  }
}

TEST_F(ElevenLabsClientTest, AVoiceIsCreatedOnceUnlessTheServiceSaidItWasTooBusy) {
  testing::TemporaryFolder folder;
  testing::writeText(folder / "sample.wav", "RIFF");
  for (const int status : {500, 504}) {
    service.enqueue({.status = status, .body = "{}"});
    EXPECT_THAT(failureOf([&] { client.createVoice("x", folder / "sample.wav"); }),
                HasSubstr("(" + std::to_string(status) + ")"));
  }
  EXPECT_EQ(service.requests().size(), 2u) << "a 500 or 504 may have made the clone already";
  service.enqueue({.status = 429, .body = "{}"});
  service.enqueue({.status = 503, .body = "{}"});
  service.enqueue({.status = 200, .body = R"({"voice_id":"v"})"});
  EXPECT_EQ(client.createVoice("x", folder / "sample.wav"), "v");
  EXPECT_THAT(waits, ElementsAre(1.0, 2.0));

  // Nobody listening: nothing was sent, so trying again is safe.
  waits.clear();
  setenv("BRISKLET_ELEVENLABS_BASE_URL", "http://127.0.0.1:9", 1);
  EXPECT_THROW(ElevenLabsClient(kKey, surroundings()).createVoice("x", folder / "sample.wav"),
               HttpTransportError);
  EXPECT_THAT(waits, ElementsAre(1.0, 2.0));
}

TEST_F(ElevenLabsClientTest, ACancelledCallEndsAtOnceWithoutRetrying) {
  service.enqueue({.status = 200, .body = "late", .delayMilliseconds = 1500});
  std::stop_source stop;
  std::jthread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  EXPECT_THROW(client.textToSpeech("voice1", "Hello.", stop.get_token()), Cancelled);
  EXPECT_TRUE(waits.empty());
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(ElevenLabsClientTest, SpeechIsAskedForInTheVoiceAndFormatAndComesBackAsItIs) {
  service.enqueue({.status = 200, .body = std::string("ID3\0\xff\xfb", 6), .contentType = "audio/mpeg"});
  EXPECT_EQ(client.textToSpeech("Voice_1-a", "Over the bridge."), std::string("ID3\0\xff\xfb", 6));
  const auto requests = service.requests();
  const auto& request = requests.at(0);
  EXPECT_EQ(request.path, "/v1/text-to-speech/Voice_1-a");
  EXPECT_EQ(request.query.at("output_format"), "mp3_44100_128");
  EXPECT_EQ(nlohmann::json::parse(request.body),
            (nlohmann::json{{"text", "Over the bridge."},
                            {"model_id", "eleven_multilingual_v2"},
                            {"voice_settings", {{"stability", 0.5}, {"similarity_boost", 0.75}}}}));

  for (const std::string voice : {"../v1/voices", "a b", "voice?x=1", ""})
    EXPECT_THROW(client.textToSpeech(voice, "Hello."), ElevenLabsAPIError) << voice;
  EXPECT_EQ(service.requests().size(), 1u) << "a voice id that cannot be one is never sent";
}

TEST_F(ElevenLabsClientTest, VoicesAreListedAsTheServiceGivesThem) {
  service.enqueue({.body = R"({"voices":[
      {"voice_id":"a","name":"Zed","category":"premade"},
      {"voice_id":"b","name":"Alice","category":"cloned"},
      {"voice_id":"c","category":"cloned"},
      {"voice_id":"d","name":"Bob"}]})"});
  EXPECT_THAT(client.listVoices(),
              ElementsAre(ElevenLabsClient::VoiceInfo{"a", "Zed", "premade"},
                          ElevenLabsClient::VoiceInfo{"b", "Alice", "cloned"},
                          ElevenLabsClient::VoiceInfo{"d", "Bob", "premade"}));
  service.enqueue({.body = "{}"});
  EXPECT_TRUE(client.listVoices().empty());
  service.enqueue({.body = R"({"voices":["a","b"]})"});
  EXPECT_TRUE(client.listVoices().empty());
  EXPECT_EQ(service.requests().at(0).method, "GET");
  EXPECT_EQ(service.requests().at(0).path, "/v1/voices");
}

}  // namespace
}  // namespace brisklet
