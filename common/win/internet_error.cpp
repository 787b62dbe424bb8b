#include "common/win/internet_error.h"

#include <windows.h>
#include <wininet.h>

#include <string_view>

#include "common/certificate_problem.h"
#include "common/win/certificate_text.h"
#include "common/win/language.h"
#include "common/win/system_error.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

// The core names these codes without wininet.h: a wrong number would leave a refusal without
// its words.
namespace cert = certificate_error;
static_assert(cert::kDateInvalid == ERROR_INTERNET_SEC_CERT_DATE_INVALID &&
              cert::kNameInvalid == ERROR_INTERNET_SEC_CERT_CN_INVALID &&
              cert::kClientCertNeeded == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED &&
              cert::kInvalidCa == ERROR_INTERNET_INVALID_CA && cert::kCertErrors == ERROR_INTERNET_SEC_CERT_ERRORS &&
              cert::kNoRevocation == ERROR_INTERNET_SEC_CERT_NO_REV &&
              cert::kRevocationFailed == ERROR_INTERNET_SEC_CERT_REV_FAILED &&
              cert::kSecurityChannel == ERROR_INTERNET_SECURITY_CHANNEL_ERROR &&
              cert::kInvalidCert == ERROR_INTERNET_SEC_INVALID_CERT && cert::kRevoked == ERROR_INTERNET_SEC_CERT_REVOKED);

UINT CertificateTextId(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::kUntrusted:
      return IDS_CERT_UNTRUSTED;
    case CertificateProblem::kUncheckable:
      return IDS_CERT_UNCHECKABLE;
    case CertificateProblem::kExpired:
      return IDS_CERT_EXPIRED;
    case CertificateProblem::kWrongName:
      return IDS_CERT_WRONG_NAME;
    case CertificateProblem::kInvalid:
      return IDS_CERT_INVALID;
    case CertificateProblem::kRevoked:
      return IDS_CERT_REVOKED;
    case CertificateProblem::kClientCertificate:
      return IDS_CERT_CLIENT_CERTIFICATE;
    case CertificateProblem::kSecureChannel:
      return IDS_CERT_SECURE_CHANNEL;
    case CertificateProblem::kNone:
      break;
  }
  return 0;
}

std::wstring LastResponseInfo() {
  DWORD code = 0;
  DWORD chars = 0;
  if (InternetGetLastResponseInfoW(&code, nullptr, &chars) || chars == 0) return {};
  // The size is in characters; one more for the terminator that some versions leave out.
  std::wstring text(chars + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size());
  if (!InternetGetLastResponseInfoW(&code, text.data(), &got)) return {};
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::wstring_view Trim(std::wstring_view s) {
  constexpr std::wstring_view blanks = L" \t\r\n";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::wstring_view::npos) return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string InternetErrorMessage(uint32_t error) {
  // WinInet's words for these are a number or jargon; the user needs to hear what is wrong and
  // whom to ask. A module without the table (a test program) keeps WinInet's.
  if (const UINT id = CertificateTextId(CertificateProblemOf(error))) {
    std::string words = LoadStringLang(GetModuleHandleW(nullptr), id);
    if (!words.empty()) return words;
  }
  std::string text;
  if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll")) text = SystemErrorText(error, wininet);
  }
  if (text.empty()) text = SystemErrorText(error);
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    std::wstring_view extra = Trim(LastResponseInfo());
    if (!extra.empty()) {
      if (!text.empty()) text += "\r\n";
      text += Narrow(extra);
    }
  }
  if (text.empty()) return "Internet error " + std::to_string(error);
  return text;
}

}  // namespace edms::win
