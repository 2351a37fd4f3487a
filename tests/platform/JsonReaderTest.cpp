#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

#include "platform/JsonReader.h"

namespace brisklet {
namespace {

using nlohmann::json;

// A scalar as nlohmann would hold it.
json scalarAsNlohmann(const JsonValue& value) {
  if (value.isBoolean()) return value.boolean();
  if (value.isString()) return std::string(value.string());
  if (value.isNumber()) {
    if (const auto whole = value.integer()) return *whole;
    return value.number();
  }
  return nullptr;
}

// nlohmann's reading with numbers in the same form the reader gives them.
json normalised(const json& value) {
  if (value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX)
    return value.get<double>();
  if (value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_array()) {
    json array = json::array();
    for (const json& element : value) array.push_back(normalised(element));
    return array;
  }
  if (value.is_object()) {
    json object = json::object();
    for (const auto& [key, member] : value.items()) object[key] = normalised(member);
    return object;
  }
  return value;
}

// Compares structurally; objects key by key through find(), where the last of repeated keys
// wins as in nlohmann.
void expectSame(const JsonValue& ours, const json& theirs, const std::string& where) {
  if (theirs.is_object()) {
    ASSERT_TRUE(ours.isObject()) << where;
    ASSERT_GE(ours.size(), theirs.size()) << where;
    for (const auto& [key, member] : theirs.items()) {
      const auto found = ours.find(key);
      ASSERT_TRUE(found.has_value()) << where << "/" << key;
      expectSame(*found, member, where + "/" + key);
    }
    return;
  }
  if (theirs.is_array()) {
    ASSERT_TRUE(ours.isArray()) << where;
    ASSERT_EQ(ours.size(), theirs.size()) << where;
    size_t index = 0;
    for (const JsonValue element : ours) {
      expectSame(element, theirs[index], where + "[" + std::to_string(index) + "]");
      ++index;
    }
    return;
  }
  ASSERT_FALSE(ours.isArray() || ours.isObject()) << where;
  EXPECT_EQ(scalarAsNlohmann(ours), normalised(theirs)) << where;
}

TEST(JsonReader, ReadsWhatNlohmannReads) {
  const std::vector<std::string> documents = {"null",
                                              "true",
                                              " false ",
                                              "0",
                                              "-0",
                                              "42",
                                              "-17",
                                              "3.25",
                                              "1e3",
                                              "-2.5E-3",
                                              "1E+2",
                                              "9223372036854775807",
                                              "9223372036854775808",
                                              "1.7976931348623157e308",
                                              R"("")",
                                              R"("plain")",
                                              R"("esc \" \\ \/ \b \f \n \r \t")",
                                              R"("\u00e9\u4e2d\ud83d\ude00")",
                                              "\"caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x9A\x86\"",
                                              R"("\u0000inside")",
                                              "[]",
                                              "{}",
                                              "[1,[2,[3,[]]],{}]",
                                              R"({"a":1,"b":{"c":[true,false,null]},"d":"x"})",
                                              " \n\t\r{ \"spaced\" :\n [ 1 , 2 ] } \n"};
  for (const std::string& text : documents) {
    SCOPED_TRACE(text);
    const JsonDocument document = JsonDocument::parse(text);
    expectSame(document.root(), json::parse(text), "$");
  }
}

TEST(JsonReader, RejectsWhatIsNotJson) {
  const std::vector<std::string> invalid = {"",
                                            " ",
                                            "nul",
                                            "tru",
                                            "True",
                                            "01",
                                            "-",
                                            "1.",
                                            ".5",
                                            "+1",
                                            "1e",
                                            "1e+",
                                            "0x10",
                                            "NaN",
                                            "Infinity",
                                            "1e400",
                                            "[1,]",
                                            "[,1]",
                                            "[1 2]",
                                            "{\"a\":1,}",
                                            "{\"a\" 1}",
                                            "{a:1}",
                                            "{'a':1}",
                                            "{\"a\":}",
                                            "[",
                                            "{",
                                            "]",
                                            "\"open",
                                            "\"tab\there\"",
                                            "\"bad \\x escape\"",
                                            "\"\\u12\"",
                                            "\"\\u12G4\"",
                                            "\"\\ud83d\"",
                                            "\"\\ude00\"",
                                            "\"\\ud83d\\u0041\"",
                                            "\"\xC0\xAF\"",
                                            "\"\xED\xA0\x80\"",
                                            "\"\xF4\x90\x80\x80\"",
                                            "\"\xE2\x82\"",
                                            "\"\x80\"",
                                            "\"\xFF\"",
                                            "[1] [2]",
                                            "{} x",
                                            std::string("[1]\0", 4)};
  for (const std::string& text : invalid) {
    EXPECT_THROW(JsonDocument::parse(text), JsonSyntaxError) << text;
  }
  EXPECT_THAT([] { JsonDocument::parse("[1, 2, x]"); },
              ::testing::ThrowsMessage<JsonSyntaxError>(::testing::HasSubstr("at byte 7")));
}

TEST(JsonReader, LimitsNestingWithoutExhaustingTheStack) {
  EXPECT_NO_THROW(JsonDocument::parse(std::string(256, '[') + std::string(256, ']')));
  EXPECT_THROW(JsonDocument::parse(std::string(257, '[') + std::string(257, ']')), JsonSyntaxError);
  EXPECT_THROW(JsonDocument::parse(std::string(1'000'000, '[')), JsonSyntaxError);
  std::string objects;
  for (int i = 0; i < 100'000; ++i) objects += "{\"a\":";
  EXPECT_THROW(JsonDocument::parse(objects), JsonSyntaxError);
}

TEST(JsonReader, NumbersKeepWholeNumbersExact) {
  const JsonDocument document = JsonDocument::parse(
      "[9007199254740993, -9223372036854775808, 4.0, 1e2, 18446744073709551616]");
  std::vector<JsonValue> values(document.root().begin(), document.root().end());
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].integer(), 9007199254740993);
  EXPECT_EQ(values[1].integer(), INT64_MIN);
  EXPECT_FALSE(values[2].integer().has_value()) << "written with a fraction";
  EXPECT_EQ(values[2].number(), 4.0);
  EXPECT_FALSE(values[3].integer().has_value());
  EXPECT_EQ(values[3].number(), 100.0);
  EXPECT_FALSE(values[4].integer().has_value()) << "too large for 64 bits";
  EXPECT_EQ(values[4].number(), 18446744073709551616.0);
}

TEST(JsonReader, ObjectLookupTakesTheLastOfRepeatedKeysAndMissesAbsentOnes) {
  const JsonDocument document = JsonDocument::parse(R"({"k": 1, "other": [1, {"k": 9}], "k": 2})");
  EXPECT_EQ(document.root().find("k")->integer(), 2);
  EXPECT_FALSE(document.root().find("K").has_value());
  EXPECT_FALSE(document.root().find("").has_value());
  EXPECT_EQ(document.root().size(), 3u);
}

// Random damage to a realistic record: the reader must agree with nlohmann on every variant,
// accepting the same texts with the same content and rejecting the rest, and never crash.
TEST(JsonReader, AgreesWithNlohmannOnThousandsOfDamagedRecords) {
  const std::string record = R"({
  "createdAt": "2025-01-31T09:15:00Z",
  "editPlan": {
    "planRevision": 3,
    "runningSummary": "I walked to the harbour at dawn. \u00c7a va \ud83d\ude00",
    "segments": [
      {"endSec": 4.25, "id": "9B2D6B0E-7C1A-4E55-9D3B-2F7A1C0E8D41", "keep": true,
       "narration": {"durationSec": 2.5, "startOffsetSec": 0.5, "status": "ready",
                     "text": "Morning at the \"harbour\".", "userEditedText": false},
       "quality": {"aesthetics": -0.25, "blur": 0.875, "isUtility": false},
       "startSec": 0.0, "userOverrodeKeep": false}
    ]
  },
  "name": "Caf\u00e9 walk", "schemaVersion": 1, "videoDurationSec": 125.5
})";
  std::mt19937 random(7);
  const std::string alphabet = "{}[],:\"\\u0123456789.eE+-tfn aZ\xC3\xA9\xFF\x01";
  int accepted = 0;
  for (int variant = 0; variant < 3000; ++variant) {
    std::string damaged = record;
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int edit = 0; edit < edits; ++edit) {
      const size_t position = random() % damaged.size();
      const char replacement = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0:
          damaged[position] = replacement;
          break;
        case 1:
          damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(position), replacement);
          break;
        default:
          damaged.erase(position, 1);
      }
    }
    const json theirs = json::parse(damaged, nullptr, /*allow_exceptions=*/false);
    bool ours = true;
    try {
      const JsonDocument document = JsonDocument::parse(damaged);
      if (!theirs.is_discarded()) expectSame(document.root(), theirs, "$");
    } catch (const JsonSyntaxError&) {
      ours = false;
    }
    ASSERT_EQ(ours, !theirs.is_discarded()) << damaged;
    accepted += ours;
  }
  EXPECT_GT(accepted, 100) << "the damage should leave some records readable";
}

}  // namespace
}  // namespace brisklet
