// Whether a program carries a valid Authenticode signature of a pinned publisher, checked
// through a handle the caller holds open: what is checked is what that handle reads, whatever
// the name in the folder points to meanwhile.
//
// WinVerifyTrust decides last. Wine 8's checks only that a signature is there, that the image
// hash matches the signed digest and that the signer's signature is sound; it accepts a file
// whose signed digest was replaced, a signer from an untrusted root, an expired signer and one
// not meant for code signing (docs/developers.md, Wine). So the parts are checked here as well,
// with CryptoAPI: the PE image hash over the handle's bytes, the signed attributes against
// the content, the chain to a trusted root for code signing, and the pin.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "common/signer_pin.h"

namespace edms::win {

enum class SignatureVerdict {
  kTrusted,         // signed by a pinned publisher whose certificate this computer trusts
  kUnsigned,        // no signature at all
  kBroken,          // changed since it was signed, or a damaged or unaccepted signature
  kOtherSigner,     // soundly signed, by a certificate no pin names
  kUntrustedChain,  // by a pinned key, but its certificate is expired, not for code signing,
                    // or does not lead to a root this computer trusts
  kUnreadable,      // the file could not be read through the handle
};

struct SignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::kUnreadable;
  std::string signer;  // the signer certificate's name, once known
  std::string detail;  // what failed, for the debug output
};

// Checks the file open as `file` (read access; its position is moved); `path` names it for
// WinVerifyTrust, which reads through the handle. Revocation is not checked (no network is
// assumed). The verdicts are tried in the order of the enum, the first that applies is given.
SignatureCheck CheckSignature(HANDLE file, const std::string& path, const std::vector<SignerPin>& pins);

// The pin of a certificate: SHA-256 over its DER SubjectPublicKeyInfo; false when it cannot be made.
bool PinOfCertificate(PCCERT_CONTEXT certificate, SignerPin& pin);

}  // namespace edms::win
