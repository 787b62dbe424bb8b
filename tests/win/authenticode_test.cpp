#include "common/win/authenticode.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/authenticode.h"
#include "common/win/handles.h"
#include "common/win/process.h"
#include "common/win/text.h"
#include "tests/win/child_process.h"

namespace edms::win {
namespace {

// The stand-ins of the self-update's tests (tests/tools): signed by the test bed's publisher,
// by another publisher, and not at all; the test certificates beside them in signing\.
std::string Beside(const std::string& name) { return GetAgentFolder() + "\\" + name; }

UniqueCertContext Certificate(const std::string& name) {
  const std::string pem = test::ReadAll(Beside("signing\\" + name + ".pem"));
  DWORD size = 0;
  CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                       nullptr);
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                       nullptr, nullptr);
  return UniqueCertContext(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size));
}

SignerPin PinOf(const std::string& name) {
  SignerPin pin{};
  UniqueCertContext certificate = Certificate(name);
  EXPECT_TRUE(certificate && PinOfCertificate(certificate.get(), pin)) << name;
  return pin;
}

// The test CA among the local machine's trusted roots while it lives (the registry store
// itself: Wine's system store keeps a deleted certificate).
class TrustedTestCa {
 public:
  TrustedTestCa() : ca_(Certificate("test-ca")) {
    UniqueCertStore root(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    EXPECT_TRUE(root && CertAddCertificateContextToStore(root.get(), ca_.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  }
  ~TrustedTestCa() {
    UniqueCertStore root(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (PCCERT_CONTEXT found = CertFindCertificateInStore(root.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                          ca_.get(), nullptr))
      CertDeleteCertificateFromStore(found);
  }

 private:
  UniqueCertContext ca_;
};

std::string Sha256(std::string_view data) {
  UniqueCryptProv provider;
  UniqueCryptHash hash;
  std::string digest(32, '\0');
  DWORD size = 32;
  EXPECT_TRUE(CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()) &&
              CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
              CryptGetHashParam(hash.get(), HP_HASHVAL, reinterpret_cast<BYTE*>(digest.data()), &size, 0));
  return digest;
}

std::string ImageHashOf(const std::string& bytes) {
  std::string hashed;
  for (const ByteRange& r : ReadPeSignatureLayout(bytes.substr(0, kPeHeadBytes), bytes.size()).hashed)
    hashed += bytes.substr(r.offset, r.size);
  return Sha256(hashed);
}

std::string Flipped(std::string bytes, size_t at) {
  bytes[at] ^= 1;
  return bytes;
}

// One byte of the code changed; with `forge`, the digest in the signature made to match it
// too, so that only the signed attributes tell.
std::string Changed(const std::string& signedBytes, bool forge) {
  const std::string before = ImageHashOf(signedBytes);
  std::string bytes = Flipped(signedBytes, 0x1100);  // in the code: the sections are 4 KiB aligned in the file
  if (forge) {
    const size_t at = bytes.find(before);
    EXPECT_NE(at, std::string::npos);
    bytes.replace(at, before.size(), ImageHashOf(bytes));
  }
  return bytes;
}

SignatureCheck CheckBytes(const std::string& bytes, const std::vector<SignerPin>& pins) {
  const std::string path = test::TempPath("signed.exe");
  std::ofstream(Widen(path).c_str(), std::ios::binary) << bytes;
  UniqueKernelHandle file(
      CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(file);
  SignatureCheck check = CheckSignature(file.get(), path, pins);
  file.reset();
  DeleteFileW(Widen(path).c_str());
  return check;
}

TEST(CheckSignature, OnlyASoundSignatureOfAPinnedTrustedPublisher) {
  const std::string signedBytes = test::ReadAll(Beside("update_stand_in.exe"));
  const std::string otherBytes = test::ReadAll(Beside("update_stand_in_other.exe"));
  const std::string unsignedBytes = test::ReadAll(Beside("start_recorder.exe"));
  ASSERT_GT(signedBytes.size(), 0x2000u);
  const SignerPin ours = PinOf("test-signer");
  const SignerPin theirs = PinOf("test-other-signer");
  using V = SignatureVerdict;
  const struct {
    const char* what;
    std::string bytes;
    std::vector<SignerPin> pins;
    V verdict;
    const char* detail;  // a piece of what the check says failed
  } cases[] = {
      {"signed by the pinned publisher", signedBytes, {ours}, V::kTrusted, "signer pin"},
      {"the second of two pins", otherBytes, {ours, theirs}, V::kTrusted, "signer pin"},
      {"signed by another publisher", otherBytes, {ours}, V::kOtherSigner, "is not pinned"},
      {"not signed", unsignedBytes, {ours}, V::kUnsigned, "no certificate table"},
      {"a code byte changed", Changed(signedBytes, false), {ours}, V::kBroken, "image hash differs"},
      // Wine's WinVerifyTrust accepts this one.
      {"a code byte changed, the signed digest too", Changed(signedBytes, true), {ours}, V::kBroken,
       "signed attributes do not match"},
      {"bytes after the signature", signedBytes + "tail", {ours}, V::kBroken, "misplaced"},
      {"a byte of the signer's signature changed", Flipped(signedBytes, signedBytes.size() - 40), {ours}, V::kBroken,
       "does not verify"},
  };
  {
    const TrustedTestCa trusted;
    for (const auto& c : cases) {
      const SignatureCheck check = CheckBytes(c.bytes, c.pins);
      EXPECT_EQ(check.verdict, c.verdict) << c.what << ": " << check.detail;
      EXPECT_NE(check.detail.find(c.detail), std::string::npos) << c.what << ": " << check.detail;
    }
    EXPECT_EQ(CheckBytes(otherBytes, {ours}).signer, "Someone Else (test code signing, tests only)");
  }
  const SignatureCheck untrusted = CheckBytes(signedBytes, {ours});
  EXPECT_EQ(untrusted.verdict, V::kUntrustedChain) << untrusted.detail;
}

}  // namespace
}  // namespace edms::win
