#include "common/signer_pin.h"

#include <gtest/gtest.h>

#include <string>

namespace edms {
namespace {

TEST(ParseSignerPins, HexPinsBetweenSeparatorsOrNothing) {
  const std::string a = "fd7b6c9128c33fadf2267b8e8a1eaf9a0eccf9072f7255cff09827dea5282809";
  const std::string b = "9218A65C84C94A7867B4EF3B57C8152E38B56B7BC1D4F91F7648656D160EAC6B";
  const struct {
    std::string text;
    std::optional<std::vector<std::string>> pins;  // as SignerPinText writes them
  } cases[] = {
      {a, {{a}}},
      {" " + a + " ;\t" + b + ",", {{a, "9218a65c84c94a7867b4ef3b57c8152e38b56b7bc1d4f91f7648656d160eac6b"}}},
      {" ; ", {{}}},
      {a + "0", std::nullopt},
      {a + ";" + a.substr(0, 63) + "g", std::nullopt},  // one bad pin spoils the value
      {a.substr(0, 32) + ":" + a.substr(32), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseSignerPins(c.text);
    ASSERT_EQ(parsed.has_value(), c.pins.has_value()) << c.text;
    if (!parsed) continue;
    std::vector<std::string> texts;
    for (const SignerPin& pin : *parsed) texts.push_back(SignerPinText(pin));
    EXPECT_EQ(texts, *c.pins) << c.text;
  }
}

}  // namespace
}  // namespace edms
