// Values exchanged with the page: undefined, null, bool, int, double, string
// (any bytes), dictionary and array.
//
// A Var has value semantics. Strings, dictionaries and arrays share their
// storage between copies and copy it on the first write, so copying is cheap and
// copies may be read and written from different threads independently.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pp {

class VarDictionary;
class VarArray;

class Var {
 public:
  enum class Type { kUndefined, kNull, kBool, kInt, kDouble, kString, kDictionary, kArray };
  struct Null {};

  Var();  // undefined
  Var(Null);
  Var(bool value);
  Var(int32_t value);
  Var(double value);
  Var(const char* utf8_or_bytes);
  Var(const std::string& bytes);
  Var(std::string&& bytes);

  Type type() const { return type_; }
  bool is_undefined() const { return type_ == Type::kUndefined; }
  bool is_null() const { return type_ == Type::kNull; }
  bool is_bool() const { return type_ == Type::kBool; }
  bool is_int() const { return type_ == Type::kInt; }
  bool is_double() const { return type_ == Type::kDouble; }
  bool is_number() const { return is_int() || is_double(); }
  bool is_string() const { return type_ == Type::kString; }
  bool is_dictionary() const { return type_ == Type::kDictionary; }
  bool is_array() const { return type_ == Type::kArray; }

  // Readers return a neutral value (false, 0, empty) for a Var of another type.
  bool AsBool() const;
  int32_t AsInt() const;
  double AsDouble() const;
  std::string AsString() const;

  // A short human-readable rendering, for diagnostics only.
  std::string DebugString() const;

  friend bool operator==(const Var& a, const Var& b);
  friend bool operator!=(const Var& a, const Var& b) { return !(a == b); }

  friend class VarDictionary;
  friend class VarArray;

 protected:
  using Dict = std::map<std::string, Var>;
  using Array = std::vector<Var>;

  Type type_ = Type::kUndefined;
  union {
    bool bool_;
    int32_t int_;
    double double_;
  } value_{};
  // Shared storage of strings, dictionaries and arrays; copied before a write
  // whenever another Var still refers to it.
  std::shared_ptr<const std::string> string_;
  std::shared_ptr<Dict> dict_;
  std::shared_ptr<Array> array_;

  Dict& MutableDict();
  Array& MutableArray();
};

class VarDictionary : public Var {
 public:
  VarDictionary();  // an empty dictionary
  // A dictionary Var keeps its entries; any other Var reads as an empty dictionary.
  explicit VarDictionary(const Var& var);

  Var Get(const std::string& key) const;  // undefined when missing
  bool Set(const std::string& key, const Var& value);
  bool HasKey(const std::string& key) const;
  void Delete(const std::string& key);
  VarArray GetKeys() const;  // sorted
  uint32_t size() const;
};

class VarArray : public Var {
 public:
  VarArray();  // an empty array
  // An array Var keeps its elements; any other Var reads as an empty array.
  explicit VarArray(const Var& var);

  Var Get(uint32_t index) const;  // undefined past the end
  bool Set(uint32_t index, const Var& value);  // grows the array as needed
  void Push(const Var& value);
  uint32_t GetLength() const;
  bool SetLength(uint32_t length);
};

}  // namespace pp
