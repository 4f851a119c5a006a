#include "platform/var.h"

#include <cstdio>

namespace pp {

Var::Var() = default;
Var::Var(Null) : type_(Type::kNull) {}
Var::Var(bool value) : type_(Type::kBool) { value_.bool_ = value; }
Var::Var(int32_t value) : type_(Type::kInt) { value_.int_ = value; }
Var::Var(double value) : type_(Type::kDouble) { value_.double_ = value; }
Var::Var(const char* bytes) : Var(std::string(bytes ? bytes : "")) {}
Var::Var(const std::string& bytes)
    : type_(Type::kString), string_(std::make_shared<const std::string>(bytes)) {}
Var::Var(std::string&& bytes)
    : type_(Type::kString), string_(std::make_shared<const std::string>(std::move(bytes))) {}

bool Var::AsBool() const { return is_bool() && value_.bool_; }

int32_t Var::AsInt() const {
  if (is_int()) return value_.int_;
  if (is_double()) return static_cast<int32_t>(value_.double_);
  return 0;
}

double Var::AsDouble() const {
  if (is_double()) return value_.double_;
  if (is_int()) return value_.int_;
  return 0.0;
}

std::string Var::AsString() const { return is_string() ? *string_ : std::string(); }

std::string Var::DebugString() const {
  switch (type_) {
    case Type::kUndefined:
      return "undefined";
    case Type::kNull:
      return "null";
    case Type::kBool:
      return value_.bool_ ? "true" : "false";
    case Type::kInt:
      return std::to_string(value_.int_);
    case Type::kDouble: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", value_.double_);
      return buffer;
    }
    case Type::kString:
      return "\"" + *string_ + "\"";
    case Type::kDictionary: {
      std::string out = "{";
      for (const auto& [key, value] : *dict_) {
        if (out.size() > 1) out += ", ";
        out += "\"" + key + "\": " + value.DebugString();
      }
      return out + "}";
    }
    case Type::kArray: {
      std::string out = "[";
      for (const auto& value : *array_) {
        if (out.size() > 1) out += ", ";
        out += value.DebugString();
      }
      return out + "]";
    }
  }
  return "?";
}

bool operator==(const Var& a, const Var& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case Var::Type::kUndefined:
    case Var::Type::kNull:
      return true;
    case Var::Type::kBool:
      return a.value_.bool_ == b.value_.bool_;
    case Var::Type::kInt:
      return a.value_.int_ == b.value_.int_;
    case Var::Type::kDouble:
      return a.value_.double_ == b.value_.double_;
    case Var::Type::kString:
      return *a.string_ == *b.string_;
    case Var::Type::kDictionary:
      return *a.dict_ == *b.dict_;
    case Var::Type::kArray:
      return *a.array_ == *b.array_;
  }
  return false;
}

// Copy on write: the storage is shared only between Var objects, each owned by
// one thread at a time, so a use count of 1 means no other Var can reach it.
Var::Dict& Var::MutableDict() {
  if (dict_.use_count() > 1) dict_ = std::make_shared<Dict>(*dict_);
  return *dict_;
}

Var::Array& Var::MutableArray() {
  if (array_.use_count() > 1) array_ = std::make_shared<Array>(*array_);
  return *array_;
}

VarDictionary::VarDictionary() {
  type_ = Type::kDictionary;
  dict_ = std::make_shared<Dict>();
}

VarDictionary::VarDictionary(const Var& var) {
  type_ = Type::kDictionary;
  if (var.is_dictionary()) {
    dict_ = var.dict_;
  } else {
    dict_ = std::make_shared<Dict>();
  }
}

Var VarDictionary::Get(const std::string& key) const {
  auto it = dict_->find(key);
  return it == dict_->end() ? Var() : it->second;
}

bool VarDictionary::Set(const std::string& key, const Var& value) {
  MutableDict()[key] = value;
  return true;
}

bool VarDictionary::HasKey(const std::string& key) const { return dict_->count(key) != 0; }

void VarDictionary::Delete(const std::string& key) { MutableDict().erase(key); }

VarArray VarDictionary::GetKeys() const {
  VarArray keys;
  for (const auto& entry : *dict_) keys.Push(Var(entry.first));
  return keys;
}

uint32_t VarDictionary::size() const { return static_cast<uint32_t>(dict_->size()); }

VarArray::VarArray() {
  type_ = Type::kArray;
  array_ = std::make_shared<Array>();
}

VarArray::VarArray(const Var& var) {
  type_ = Type::kArray;
  if (var.is_array()) {
    array_ = var.array_;
  } else {
    array_ = std::make_shared<Array>();
  }
}

Var VarArray::Get(uint32_t index) const {
  return index < array_->size() ? (*array_)[index] : Var();
}

bool VarArray::Set(uint32_t index, const Var& value) {
  auto& array = MutableArray();
  if (index >= array.size()) array.resize(index + 1);
  array[index] = value;
  return true;
}

void VarArray::Push(const Var& value) { MutableArray().push_back(value); }

uint32_t VarArray::GetLength() const { return static_cast<uint32_t>(array_->size()); }

bool VarArray::SetLength(uint32_t length) {
  MutableArray().resize(length);
  return true;
}

}  // namespace pp
