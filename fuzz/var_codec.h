// A compact byte form of page values, so that a fuzz target can turn any bytes
// into a value tree (and a seed writer can turn a value into bytes).
//
// Value: a tag byte, kind = tag & 7:
//   0 undefined, 1 null, 2 bool (bit 3 of the tag), 3 int (4 bytes LE),
//   4 double (8 bytes LE), 5 string (a string body follows),
//   6 dictionary (tag >> 3 entries, each a string body as key, then a value),
//   7 array (tag >> 3 elements).
// String body: a byte s; s >= 0x80 names a word of kWords (index (s & 0x7f)
//   modulo its size); s < 0x7f is a length; s == 0x7f means a 2-byte LE length
//   follows. The bytes follow the length.
//
// Containers deeper than kMaxDepth decode as empty ones, and at most
// kMaxEntries entries are read per container; an input that ends early reads
// as zeros, so every byte string decodes to some value.
#pragma once

#include <cstddef>
#include <string>

#include "fuzz/byte_reader.h"
#include "platform/var.h"

namespace fuzz {

constexpr int kMaxDepth = 4;
constexpr size_t kMaxEntries = 16;

// Texts a page message is made of: the envelope's keys, every command name,
// and argument texts at the edges of what the logics parse.
extern const char* const kWords[];
extern const size_t kWordCount;

pp::Var DecodeVar(ByteReader& in, int depth = 0);
std::string DecodeStringBody(ByteReader& in);

// The byte form of `value` (strings as plain bytes, never as words).
void EncodeVar(const pp::Var& value, std::string& out);

}  // namespace fuzz
