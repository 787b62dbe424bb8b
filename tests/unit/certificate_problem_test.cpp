#include "common/certificate_problem.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(CertificateProblemOf, EachRefusalNamesItsProblemAndNothingElseDoes) {
  using P = CertificateProblem;
  const struct {
    uint32_t code;
    P problem;
  } cases[] = {
      {12045, P::kUntrusted},          {12057, P::kUncheckable}, {12056, P::kUncheckable},
      {12037, P::kExpired},            {12038, P::kWrongName},   {12169, P::kInvalid},
      {12055, P::kInvalid},            {12062, P::kInvalid},     {12170, P::kRevoked},
      {12044, P::kClientCertificate},  {12157, P::kSecureChannel},
      // Failures of the network, not of a certificate: WinInet's own words fit them.
      {0, P::kNone},     {12002, P::kNone}, {12029, P::kNone}, {12030, P::kNone},
      {12031, P::kNone}, {12152, P::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(CertificateProblemOf(c.code), c.problem) << c.code;
}

}  // namespace
}  // namespace edms
