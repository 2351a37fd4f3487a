#include <gtest/gtest.h>

#include "platform/Base64.h"

namespace brisklet {
namespace {

TEST(Base64, RoundTripsEveryLengthAndByteValue) {
  ByteString bytes;
  for (int length = 0; length < 260; ++length) {
    const auto decoded = decodeBase64(encodeBase64(bytes));
    ASSERT_TRUE(decoded.has_value()) << "length " << length;
    EXPECT_EQ(*decoded, bytes);
    bytes.push_back(static_cast<std::uint8_t>(255 - length));
  }
  EXPECT_EQ(encodeBase64(ByteString{'M', 'a', 'n'}), "TWFu");
  EXPECT_EQ(encodeBase64(ByteString{'M'}), "TQ==");
}

TEST(Base64, RejectsWhatItWouldNotWrite) {
  for (const char* text :
       {"TQ=", "TQ", "T===", "TQ==TWFu", "TW Fu", "TWF\n", "TW-_", "====", "TWFu\n"})
    EXPECT_FALSE(decodeBase64(text).has_value()) << text;
}

}  // namespace
}  // namespace brisklet
