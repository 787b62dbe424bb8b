#include "common/certificate_problem.h"

namespace edms {

CertificateProblem CertificateProblemOf(uint32_t internetError) {
  namespace e = certificate_error;
  switch (internetError) {
    case e::kInvalidCa:
      return CertificateProblem::kUntrusted;
    // Wine's WinInet gives this one for an issuer it does not know (the server sent no chain);
    // Windows for a revocation list it could not reach: either way nobody vouched for the server.
    case e::kRevocationFailed:
    case e::kNoRevocation:
      return CertificateProblem::kUncheckable;
    case e::kDateInvalid:
      return CertificateProblem::kExpired;
    case e::kNameInvalid:
      return CertificateProblem::kWrongName;
    case e::kInvalidCert:
    case e::kCertErrors:
    case e::kWeakSignature:
      return CertificateProblem::kInvalid;
    case e::kRevoked:
      return CertificateProblem::kRevoked;
    case e::kClientCertNeeded:
      return CertificateProblem::kClientCertificate;
    case e::kSecurityChannel:
      return CertificateProblem::kSecureChannel;
    default:
      return CertificateProblem::kNone;
  }
}

}  // namespace edms
