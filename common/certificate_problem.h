// What is wrong with a server's certificate, read from the error WinInet gives when it refuses
// a secure connection, so that the user is told in words and sent to the administrator.
#pragma once
#include <cstdint>

namespace edms {

// WinInet's codes for a refused secure connection (wininet.h spells them; the Windows side
// checks these against it).
namespace certificate_error {
inline constexpr uint32_t kDateInvalid = 12037;         // ERROR_INTERNET_SEC_CERT_DATE_INVALID
inline constexpr uint32_t kNameInvalid = 12038;         // ERROR_INTERNET_SEC_CERT_CN_INVALID
inline constexpr uint32_t kClientCertNeeded = 12044;    // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
inline constexpr uint32_t kInvalidCa = 12045;           // ERROR_INTERNET_INVALID_CA
inline constexpr uint32_t kCertErrors = 12055;          // ERROR_INTERNET_SEC_CERT_ERRORS
inline constexpr uint32_t kNoRevocation = 12056;        // ERROR_INTERNET_SEC_CERT_NO_REV
inline constexpr uint32_t kRevocationFailed = 12057;    // ERROR_INTERNET_SEC_CERT_REV_FAILED
inline constexpr uint32_t kWeakSignature = 12062;       // ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE
inline constexpr uint32_t kSecurityChannel = 12157;     // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
inline constexpr uint32_t kInvalidCert = 12169;         // ERROR_INTERNET_SEC_INVALID_CERT
inline constexpr uint32_t kRevoked = 12170;             // ERROR_INTERNET_SEC_CERT_REVOKED
}  // namespace certificate_error

enum class CertificateProblem {
  kNone,                // not a certificate refusal: WinInet's own text says it
  kUntrusted,           // issued by an authority this computer does not trust (or self-signed)
  kUncheckable,         // its issuer is unknown here, or whether it was revoked could not be learnt
  kExpired,             // out of its validity period
  kWrongName,           // for another name than the one the server was asked by
  kInvalid,             // not valid in some other way (several faults, a weak signature)
  kRevoked,             // withdrawn by its issuer
  kClientCertificate,   // the server asks for a certificate of the client's
  kSecureChannel,       // no secure channel could be agreed on
};

// The problem a WinInet error code names; kNone for every code that is no certificate refusal.
CertificateProblem CertificateProblemOf(uint32_t internetError);

}  // namespace edms
