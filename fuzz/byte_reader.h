// Reads a fuzz input front to back. Past the end every read yields zeros, so a
// target can always finish its script however short the input is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_ - offset_; }
  bool empty() const { return offset_ == size_; }

  uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

  // A little-endian integer of sizeof(T) bytes.
  template <typename T>
  T Integer() {
    unsigned char bytes[sizeof(T)] = {};
    const size_t n = remaining() < sizeof(T) ? remaining() : sizeof(T);
    std::memcpy(bytes, data_ + offset_, n);
    offset_ += n;
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

  // Up to `count` bytes, fewer when the input ends first.
  std::string Bytes(size_t count) {
    const size_t n = remaining() < count ? remaining() : count;
    std::string out(reinterpret_cast<const char*>(data_ + offset_), n);
    offset_ += n;
    return out;
  }
  std::string Rest() { return Bytes(remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace fuzz
