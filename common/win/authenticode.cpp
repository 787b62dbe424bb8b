#include "common/win/authenticode.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/authenticode.h"
#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kReadBytes = 64 * 1024;
// An installer's signature is a few KiB; a table larger than this is no signature of ours.
constexpr uint64_t kMaxSignatureBytes = 1 << 20;
constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";  // SPC_INDIRECT_DATA_OBJID

SignatureCheck Verdict(SignatureVerdict verdict, std::string detail, std::string signer = {}) {
  return SignatureCheck{verdict, std::move(signer), std::move(detail)};
}

std::string Hex32(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// Exactly `size` bytes from `offset` of the file.
bool ReadAt(HANDLE file, uint64_t offset, char* into, uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
  while (size > 0) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(size, kReadBytes));
    if (!ReadFile(file, into, chunk, &read, nullptr) || read == 0) return false;
    into += read;
    size -= read;
  }
  return true;
}

ALG_ID AlgorithmId(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha256: return CALG_SHA_256;
    case DigestAlgorithm::kSha384: return CALG_SHA_384;
    case DigestAlgorithm::kSha512: return CALG_SHA_512;
  }
  return 0;
}

// One digest through CryptoAPI's AES provider (SHA-2); a verify-only context, no key container.
class Digest {
 public:
  explicit Digest(DigestAlgorithm algorithm) {
    if (CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
      CryptCreateHash(provider_.get(), AlgorithmId(algorithm), 0, 0, hash_.put());
  }
  bool Add(const char* data, size_t size) {
    return hash_ && CryptHashData(hash_.get(), reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(size), 0);
  }
  std::optional<std::string> Finish() {
    DWORD size = 0;
    DWORD sizeBytes = sizeof size;
    if (!hash_ || !CryptGetHashParam(hash_.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeBytes, 0))
      return std::nullopt;
    std::string value(size, '\0');
    if (!CryptGetHashParam(hash_.get(), HP_HASHVAL, reinterpret_cast<BYTE*>(value.data()), &size, 0)) return std::nullopt;
    value.resize(size);
    return value;
  }

 private:
  UniqueCryptProv provider_;  // before the hash: destroyed after it
  UniqueCryptHash hash_;
};

std::optional<std::string> DigestOf(DigestAlgorithm algorithm, std::string_view data) {
  Digest digest(algorithm);
  if (!digest.Add(data.data(), data.size())) return std::nullopt;
  return digest.Finish();
}

// The image hash over the handle's bytes; nullopt when a read or the hash fails.
std::optional<std::string> ImageHash(HANDLE file, const std::vector<ByteRange>& ranges, DigestAlgorithm algorithm) {
  Digest digest(algorithm);
  std::string buffer(kReadBytes, '\0');
  for (const ByteRange& range : ranges) {
    for (uint64_t done = 0; done < range.size;) {
      const uint64_t chunk = std::min<uint64_t>(range.size - done, kReadBytes);
      if (!ReadAt(file, range.offset + done, buffer.data(), chunk) || !digest.Add(buffer.data(), chunk))
        return std::nullopt;
      done += chunk;
    }
  }
  return digest.Finish();
}

// A parameter of the signed message, as its bytes; empty when it is missing.
std::string MessageParam(HCRYPTMSG message, DWORD type) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, 0, nullptr, &size) || size == 0) return {};
  std::string value(size, '\0');
  if (!CryptMsgGetParam(message, type, 0, value.data(), &size)) return {};
  value.resize(size);
  return value;
}

std::string SignerName(PCCERT_CONTEXT certificate) {
  const DWORD size = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return {};
  std::wstring name(size, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  name.resize(size - 1);
  return Narrow(name);
}

// The messageDigest among the signer's signed attributes; nullopt when there is none, or more.
std::optional<std::string> SignedMessageDigest(const CMSG_SIGNER_INFO& info) {
  std::optional<std::string> found;
  for (DWORD i = 0; i < info.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = info.AuthAttrs.rgAttr[i];
    if (std::string_view(attribute.pszObjId) != szOID_PKCS_9_MESSAGE_DIGEST) continue;
    if (found || attribute.cValue != 1) return std::nullopt;
    found = ReadDerOctetString(std::string_view(reinterpret_cast<const char*>(attribute.rgValue[0].pbData),
                                                attribute.rgValue[0].cbData));
    if (!found) return std::nullopt;
  }
  return found;
}

// Empty when the signer's certificate leads to a trusted root now, for code signing.
std::string ChainProblem(PCCERT_CONTEXT signer, HCERTSTORE carried) {
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  // An engine of its own: Wine's default engine reads the trusted roots once per process, so a
  // root an administrator adds or removes later would go unseen until the agent restarts.
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = sizeof config;
  UniqueCertChainEngine engine;
  if (!CertCreateCertificateChainEngine(&config, engine.put())) return "no chain engine, error " + std::to_string(GetLastError());
  UniqueCertChain chain;
  if (!CertGetCertificateChain(engine.get(), signer, nullptr, carried, &para, 0, nullptr, chain.put()))
    return "no chain, error " + std::to_string(GetLastError());
  // Revocation is not asked for; a chain engine may still say it could not tell.
  const DWORD errors = chain.get()->TrustStatus.dwErrorStatus &
                       ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (errors != 0) return "chain trust errors " + Hex32(errors);
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy, &status))
    return "chain policy not checked, error " + std::to_string(GetLastError());
  if (status.dwError != 0) return "chain policy error " + Hex32(status.dwError);
  return {};
}

// WinVerifyTrust on the handle; ERROR_SUCCESS or its refusal.
LONG VerifyTrust(HANDLE file, const std::string& path) {
  const std::wstring widePath = Widen(path);
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = widePath.c_str();
  fileInfo.hFile = file;  // read through this handle, not by the path (checked under Wine)
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG result = WinVerifyTrust(noWindow, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(noWindow, &action, &data);
  return result;
}

SignatureVerdict VerdictOfTrustError(LONG result) {
  switch (static_cast<HRESULT>(result)) {
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN: return SignatureVerdict::kUnsigned;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_CHAINING:
    case CERT_E_EXPIRED:
    case CERT_E_WRONG_USAGE:
    case CERT_E_REVOKED:
    case TRUST_E_EXPLICIT_DISTRUST: return SignatureVerdict::kUntrustedChain;
    default: return SignatureVerdict::kBroken;
  }
}

}  // namespace

bool PinOfCertificate(PCCERT_CONTEXT certificate, SignerPin& pin) {
  const std::optional<std::string_view> key = ReadSubjectPublicKeyInfo(
      std::string_view(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded));
  if (!key) return false;
  const std::optional<std::string> digest = DigestOf(DigestAlgorithm::kSha256, *key);
  if (!digest || digest->size() != pin.size()) return false;
  std::copy(digest->begin(), digest->end(), pin.begin());
  return true;
}

SignatureCheck CheckSignature(HANDLE file, const std::string& path, const std::vector<SignerPin>& pins) {
  using V = SignatureVerdict;
  LARGE_INTEGER fileSize{};
  if (!GetFileSizeEx(file, &fileSize)) return Verdict(V::kUnreadable, "size, error " + std::to_string(GetLastError()));
  const uint64_t size = static_cast<uint64_t>(fileSize.QuadPart);
  std::string head(static_cast<size_t>(std::min<uint64_t>(size, kPeHeadBytes)), '\0');
  if (!ReadAt(file, 0, head.data(), head.size())) return Verdict(V::kUnreadable, "read error " + std::to_string(GetLastError()));

  const PeSignatureLayout layout = ReadPeSignatureLayout(head, size);
  if (layout.state == PeSignatureState::kUnsigned) return Verdict(V::kUnsigned, "no certificate table");
  if (layout.state != PeSignatureState::kSigned) return Verdict(V::kBroken, "no program, or its certificate table is misplaced");
  std::string tableHead(8, '\0');
  if (!ReadAt(file, layout.table.offset, tableHead.data(), tableHead.size())) return Verdict(V::kUnreadable, "read error");
  const std::optional<ByteRange> blob = SignatureBlobIn(tableHead, layout.table);
  if (!blob || blob->size > kMaxSignatureBytes) return Verdict(V::kBroken, "no PKCS#7 signature in the table");
  std::string signature(static_cast<size_t>(blob->size), '\0');
  if (!ReadAt(file, blob->offset, signature.data(), signature.size())) return Verdict(V::kUnreadable, "read error");

  CRYPT_DATA_BLOB encoded{static_cast<DWORD>(signature.size()), reinterpret_cast<BYTE*>(signature.data())};
  UniqueCertStore carried;
  UniqueCryptMsg message;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &encoded, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, carried.put(), message.put(), nullptr))
    return Verdict(V::kBroken, "the signature is no signed message, error " + std::to_string(GetLastError()));
  DWORD signers = 0;
  DWORD countBytes = sizeof signers;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &countBytes) || signers != 1)
    return Verdict(V::kBroken, "not exactly one signer");
  std::string certInfo = MessageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
  if (certInfo.size() < sizeof(CERT_INFO)) return Verdict(V::kBroken, "no signer");
  UniqueCertContext signer(
      CertGetSubjectCertificateFromStore(carried.get(), kEncoding, reinterpret_cast<PCERT_INFO>(certInfo.data())));
  if (!signer) return Verdict(V::kBroken, "the signer's certificate is not in the signature");
  const std::string name = SignerName(signer.get());
  if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, signer.get()->pCertInfo))
    return Verdict(V::kBroken, "the signer's signature does not verify, error " + Hex32(GetLastError()), name);

  // What the signer signed: the SpcIndirectDataContent with the image hash, through the
  // messageDigest of the signed attributes (Wine's WinVerifyTrust does not compare that one).
  const std::string innerType = MessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
  if (std::string_view(innerType.c_str()) != kIndirectDataOid) return Verdict(V::kBroken, "not Authenticode content", name);
  const std::optional<IndirectData> indirect = ReadIndirectData(MessageParam(message.get(), CMSG_CONTENT_PARAM));
  if (!indirect) return Verdict(V::kBroken, "no PE image digest of an accepted algorithm", name);
  std::string signerInfo = MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM);
  if (signerInfo.size() < sizeof(CMSG_SIGNER_INFO)) return Verdict(V::kBroken, "no signer information", name);
  const auto& info = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());
  const std::optional<DigestAlgorithm> signerAlgorithm = DigestAlgorithmOfOid(info.HashAlgorithm.pszObjId);
  const std::optional<std::string> messageDigest = SignedMessageDigest(info);
  if (!signerAlgorithm || !messageDigest) return Verdict(V::kBroken, "no accepted messageDigest attribute", name);
  if (DigestOf(*signerAlgorithm, indirect->signedPart) != messageDigest)
    return Verdict(V::kBroken, "the signed attributes do not match the signed content", name);
  const std::optional<std::string> imageHash = ImageHash(file, layout.hashed, indirect->algorithm);
  if (!imageHash) return Verdict(V::kUnreadable, "image hash not computed, error " + std::to_string(GetLastError()), name);
  if (*imageHash != indirect->digest) return Verdict(V::kBroken, "the image hash differs from the signed one", name);

  SignerPin pin{};
  if (!PinOfCertificate(signer.get(), pin)) return Verdict(V::kBroken, "the signer's public key cannot be read", name);
  if (std::find(pins.begin(), pins.end(), pin) == pins.end())
    return Verdict(V::kOtherSigner, "signer pin " + SignerPinText(pin) + " is not pinned", name);
  if (std::string problem = ChainProblem(signer.get(), carried.get()); !problem.empty())
    return Verdict(V::kUntrustedChain, problem, name);

  if (const LONG trust = VerifyTrust(file, path); trust != ERROR_SUCCESS)
    return Verdict(VerdictOfTrustError(trust), "WinVerifyTrust " + Hex32(static_cast<DWORD>(trust)), name);
  return Verdict(V::kTrusted, "signer pin " + SignerPinText(pin), name);
}

}  // namespace edms::win
