#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SecretStore.h"

namespace brisklet {
namespace {

// This suite runs with a session bus address that leads nowhere, as on a machine without a
// Secret Service: the keys must go to the private file and behave exactly the same.
class SecretStoreFallback : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove_all(applicationConfigFolder()); }
  std::filesystem::path keyFile() const { return applicationConfigFolder() / "secrets.json"; }
};

TEST_F(SecretStoreFallback, StoresReplacesAndRemovesKeys) {
  EXPECT_FALSE(SecretStore::lookup("svc", "anthropic-api-key").has_value());
  SecretStore::store("svc", "anthropic-api-key", "first");
  SecretStore::store("svc", "anthropic-api-key", "second");
  SecretStore::store("svc", "elevenlabs-api-key", "other");
  EXPECT_EQ(SecretStore::lookup("svc", "anthropic-api-key"), "second");
  EXPECT_EQ(SecretStore::lookup("svc", "elevenlabs-api-key"), "other");

  SecretStore::store("svc", "anthropic-api-key", "");
  EXPECT_FALSE(SecretStore::lookup("svc", "anthropic-api-key").has_value());
  EXPECT_EQ(SecretStore::lookup("svc", "elevenlabs-api-key"), "other");
  SecretStore::remove("svc", "elevenlabs-api-key");
  EXPECT_FALSE(SecretStore::lookup("svc", "elevenlabs-api-key").has_value());
}

TEST_F(SecretStoreFallback, KeepsKeysInAFileOnlyTheUserCanRead) {
  SecretStore::store("svc", "anthropic-api-key", "sk-test-value");
  struct stat status {};
  ASSERT_EQ(::stat(keyFile().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_FALSE(std::filesystem::exists(applicationConfigFolder() / "defaults.json"));
}

TEST_F(SecretStoreFallback, ADamagedKeyFileReadsAsNoKeysAndIsRepairedByTheNextStore) {
  std::filesystem::create_directories(applicationConfigFolder());
  writeFileAtomically(keyFile(), "{ not json", 0600);
  EXPECT_FALSE(SecretStore::lookup("svc", "anthropic-api-key").has_value());
  SecretStore::store("svc", "anthropic-api-key", "fresh");
  EXPECT_EQ(SecretStore::lookup("svc", "anthropic-api-key"), "fresh");
}

}  // namespace
}  // namespace brisklet
