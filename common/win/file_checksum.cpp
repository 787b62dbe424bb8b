#include "common/win/file_checksum.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

constexpr DWORD kReadBytes = 64 * 1024;
constexpr DWORD kMd5Bytes = 16;

}  // namespace

std::optional<std::string> GetFileChecksum(const std::string& path) {
  UniqueKernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::nullopt;
  return GetFileChecksum(file.get());
}

std::optional<std::string> GetFileChecksum(HANDLE file) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::nullopt;
  // A verify-only context: hashing needs no keys, so no key container is opened or created.
  UniqueCryptProv provider;
  if (!CryptAcquireContextW(provider.put(), nullptr, MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return std::nullopt;
  UniqueCryptHash hash;
  if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) return std::nullopt;
  std::vector<BYTE> buffer(kReadBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), kReadBytes, &read, nullptr)) return std::nullopt;
    if (read == 0) break;
    if (!CryptHashData(hash.get(), buffer.data(), read, 0)) return std::nullopt;
  }
  BYTE digest[kMd5Bytes];
  DWORD size = kMd5Bytes;
  if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != kMd5Bytes) return std::nullopt;
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (BYTE b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

}  // namespace edms::win
