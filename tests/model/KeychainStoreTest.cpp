#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "model/AppSettings.h"
#include "model/KeychainStore.h"
#include "model/ProjectStore.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "support/Projects.h"

namespace brisklet {
namespace {

// This suite runs inside a private D-Bus session with an unlocked GNOME Keyring
// (tests/support/with-secret-service.sh), so every call below goes to a real Secret Service.

// How many items the keyring holds for the key, asked of the Secret Service directly.
int itemsInKeyring(KeychainStore::Key key) {
  const std::string account(KeychainStore::accountName(key));
  GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(attributes, const_cast<char*>("service"),
                      const_cast<char*>(KeychainStore::kService.data()));
  g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
  GError* error = nullptr;
  GList* items =
      secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
  g_hash_table_unref(attributes);
  if (error != nullptr) {
    ADD_FAILURE() << "the Secret Service did not answer: " << error->message;
    g_error_free(error);
    return -1;
  }
  const int count = static_cast<int>(g_list_length(items));
  g_list_free_full(items, g_object_unref);
  return count;
}

class KeychainStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr)
        << "run through tests/support/with-secret-service.sh";
    KeychainStore::remove(KeychainStore::Key::anthropic);
    KeychainStore::remove(KeychainStore::Key::elevenLabs);
    std::filesystem::remove_all(applicationConfigFolder());
  }
};

TEST_F(KeychainStoreTest, SettingTwiceKeepsOneItemWithTheSecondValue) {
  KeychainStore::set("anthropic-first", KeychainStore::Key::anthropic);
  KeychainStore::set("anthropic-second", KeychainStore::Key::anthropic);
  EXPECT_EQ(itemsInKeyring(KeychainStore::Key::anthropic), 1);
  EXPECT_EQ(KeychainStore::get(KeychainStore::Key::anthropic), "anthropic-second");
  EXPECT_FALSE(KeychainStore::get(KeychainStore::Key::elevenLabs).has_value());
  EXPECT_FALSE(std::filesystem::exists(applicationConfigFolder() / "secrets.json"))
      << "with a Secret Service the fallback file is never written";
}

TEST_F(KeychainStoreTest, AnEmptyStringDeletesTheItem) {
  KeychainStore::set("el-key", KeychainStore::Key::elevenLabs);
  ASSERT_EQ(itemsInKeyring(KeychainStore::Key::elevenLabs), 1);
  KeychainStore::set("", KeychainStore::Key::elevenLabs);
  EXPECT_EQ(itemsInKeyring(KeychainStore::Key::elevenLabs), 0);
  EXPECT_FALSE(KeychainStore::get(KeychainStore::Key::elevenLabs).has_value());
}

TEST_F(KeychainStoreTest, AKeyLeftInTheFallbackFileMovesIntoTheKeyring) {
  std::filesystem::create_directories(applicationConfigFolder());
  writeFileAtomically(applicationConfigFolder() / "secrets.json",
                      R"({"com.kettlewick.Brisklet": {"anthropic-api-key": "anthropic-moved"}})",
                      0600);
  EXPECT_EQ(KeychainStore::get(KeychainStore::Key::anthropic), "anthropic-moved");
  EXPECT_EQ(itemsInKeyring(KeychainStore::Key::anthropic), 1);
  EXPECT_EQ(readFile(applicationConfigFolder() / "secrets.json").find("anthropic-moved"),
            std::string::npos);
}

// Runs the key tool as a session would whose bus has no Secret Service on it.
std::string keyToolWithoutSecretService(const std::string& arguments) {
  const std::string command = "env DBUS_SESSION_BUS_ADDRESS=" BRISKLET_NO_BUS " " BRISKLET_KEY_TOOL
                              " " + arguments;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "(could not run the key tool)";
  std::string output;
  char buffer[256];
  for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, count);
  if (::pclose(pipe) != 0) ADD_FAILURE() << "key tool " << arguments << " failed";
  return output;
}

TEST_F(KeychainStoreTest, AKeyStoredInTheKeyringSupersedesOneLeftInTheFile) {
  keyToolWithoutSecretService("set anthropic-old");
  ASSERT_EQ(keyToolWithoutSecretService("get"), "anthropic-old") << "kept in the file";

  KeychainStore::set("anthropic-new", KeychainStore::Key::anthropic);
  EXPECT_EQ(keyToolWithoutSecretService("get"), "")
      << "a session without the keyring must never fall back on the superseded key";
  EXPECT_EQ(KeychainStore::get(KeychainStore::Key::anthropic), "anthropic-new");

  keyToolWithoutSecretService("set anthropic-offline");
  KeychainStore::remove(KeychainStore::Key::anthropic);
  EXPECT_EQ(keyToolWithoutSecretService("get"), "") << "removed from both places";
}

TEST_F(KeychainStoreTest, AKeyIsNeverWrittenIntoARecordOrTheSettings) {
  const std::string key = "test-anthropic-SENTINEL-7d1c0e";
  KeychainStore::set(key, KeychainStore::Key::anthropic);
  KeychainStore::set(key + "-el", KeychainStore::Key::elevenLabs);
  AppSettings::setClaudeModel("claude-sonnet-5");
  AppSettings::setVoiceID("voice");
  ProjectStore::shared().save(testing::sampleProject("Keys", "2025-03-01T10:00:00Z", 3));

  int filesRead = 0;
  for (const std::filesystem::path& root : {dataHome(), configHome()}) {
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      ++filesRead;
      EXPECT_EQ(readFile(entry.path()).find("SENTINEL"), std::string::npos) << entry.path();
    }
  }
  EXPECT_GE(filesRead, 2) << "the record and the settings were written";
  EXPECT_EQ(KeychainStore::get(KeychainStore::Key::anthropic), key);
}

}  // namespace
}  // namespace brisklet
