// MD5 of a byte stream, as the update check compares it: 32 upper-case hex digits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace devserver {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // Finishes the digest; the object must not be updated afterwards.
  std::string HexUpper();

 private:
  void Block(const uint8_t* p);
  uint32_t state_[4];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

// Empty text when the file cannot be read.
std::string Md5OfFile(const std::string& path);

}  // namespace devserver
