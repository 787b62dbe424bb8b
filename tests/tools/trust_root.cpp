// trust_root.exe add|remove CERT: puts a certificate (PEM or DER) into, or takes it out of, the
// trusted root store of the local machine, the store WinInet checks a server's chain against.
// For test CAs in a test Wine prefix only. The local machine's store, because adding to the
// current user's asks the user first on Windows. Exit 0 on success (removing a certificate the
// store does not hold counts), 1 on failure with the reason on stderr, 2 on a usage error.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "trust_root: %s (error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

bool ReadFileBytes(const wchar_t* path, std::vector<BYTE>& out) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 20);
  DWORD got = 0;
  if (ok) {
    out.resize(static_cast<size_t>(size.QuadPart));
    ok = ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size();
  }
  CloseHandle(file);
  return ok;
}

// The certificate's DER bytes from a PEM file, or the file as it is when it holds DER.
std::vector<BYTE> Der(const std::vector<BYTE>& file) {
  DWORD size = 0;
  const char* text = reinterpret_cast<const char*>(file.data());
  auto length = static_cast<DWORD>(file.size());
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return file;
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return file;
  der.resize(size);
  return der;
}

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
struct ContextFreer {
  void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || (std::wstring(argv[1]) != L"add" && std::wstring(argv[1]) != L"remove")) {
    std::fprintf(stderr, "usage: trust_root.exe add|remove CERT.pem\n");
    return 2;
  }
  const bool add = std::wstring(argv[1]) == L"add";
  std::vector<BYTE> file;
  if (!ReadFileBytes(argv[2], file)) return Fail("cannot read the certificate file");
  std::vector<BYTE> der = Der(file);
  std::unique_ptr<const CERT_CONTEXT, ContextFreer> cert(
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!cert) return Fail("the file holds no certificate");

  // The registry store itself, not the system store around it: Wine's system store stays
  // referenced after a deletion, so the deletion never reaches the registry.
  std::unique_ptr<void, StoreCloser> store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                                         CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!store) return Fail("cannot open the local machine's root store");
  if (add) {
    if (!CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      return Fail("cannot add the certificate");
    }
    return 0;
  }
  const CERT_CONTEXT* found =
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.get(), nullptr);
  // Deleting frees the found context, also when it fails.
  if (found && !CertDeleteCertificateFromStore(found)) return Fail("cannot remove the certificate");
  return 0;
}
