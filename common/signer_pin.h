// The publisher an update must be signed by, as a pin: the SHA-256 of the signer
// certificate's public key (its DER SubjectPublicKeyInfo). The build compiles in the pin of the
// certificate it signs with; an administrator may add pins by policy.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

using SignerPin = std::array<uint8_t, 32>;

// Pins written as 64 hexadecimal digits each (either case), separated by ";", "," or blanks.
// Empty text (or separators only) is no pin; nullopt when any part is not such a pin, so that
// a mistyped value adds nothing.
std::optional<std::vector<SignerPin>> ParseSignerPins(std::string_view text);

// 64 lower-case hexadecimal digits.
std::string SignerPinText(const SignerPin& pin);

}  // namespace edms
