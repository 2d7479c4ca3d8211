#include "platform/params.h"

#include <fmt/format.h>

#include "platform/database_error.h"
#include "platform/field.h"
#include "platform/list_index.h"
#include "platform/streams.h"
#include "platform/value_text.h"

namespace orv {
namespace {

TFieldType TypeOfVariant(const Variant& value) {
  switch (value.VarType()) {
    case varSmallint:
    case varShortInt:
    case varByte:
      return ftSmallint;
    case varWord:
    case varInteger:
      return ftInteger;
    case varLongWord:
    case varInt64:
      return ftLargeint;
    case varDouble:
      return ftFloat;
    case varDate:
      return ftDateTime;
    case varBoolean:
      return ftBoolean;
    case varString:
      return ftString;
    case varOleStr:
      return ftWideString;
    default:
      return ftUnknown;
  }
}

bool IsNameChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' ||
         u >= 0x80;
}

}  // namespace

TParam::TParam(std::string name, TFieldType type, TParamType param_type)
    : name_(std::move(name)), data_type_(type), param_type_(param_type) {}

void TParam::SetDataType(TFieldType type) {
  data_type_ = type;
  Clear();
}

void TParam::SetValue(const Variant& value) {
  bound_ = !value.IsEmpty();
  if (data_type_ == ftUnknown) data_type_ = TypeOfVariant(value);
  value_ = value.IsEmpty() ? Variant::Null() : value;
}

void TParam::SetTyped(TFieldType type, Variant value) {
  data_type_ = type;
  value_ = std::move(value);
  bound_ = true;
}

void TParam::LoadFromStream(TStream& stream, TFieldType blob_type) {
  stream.SetPosition(0);
  int64_t size = stream.Size();
  if (size < 0 || size > 0x7FFFFFFF) throw EReadError();
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size) stream.ReadBuffer(bytes.data(), size);
  SetTyped(blob_type, Variant(std::move(bytes)));
}

int TParam::DataSize() const {
  switch (data_type_) {
    case ftUnknown:
      DatabaseError(fmt::format("Field '{}' is of an unknown type", name_));
    case ftString:
    case ftFixedChar:
    case ftMemo:
      return static_cast<int>(AsString().size()) + 1;
    case ftWideString:
      return 2 * (static_cast<int>(AsWideString().size()) + 1);
    case ftBoolean:
    case ftSmallint:
    case ftWord:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime:
    case ftLargeint:
      return 8;
    case ftBytes:
    case ftVarBytes:
      return value_.IsArray() ? value_.ArrayCount() : 0;
    case ftBlob:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
      return IsNull() ? 0
                      : static_cast<int>(value_.IsArray() ? value_.AsBytes().size()
                                                          : value_.AsString().size());
    default:
      return 0;
  }
}

void TParam::AssignField(const TField* field) {
  if (!field) return;
  AssignFieldValue(field, field->Value());
  name_ = field->FieldName();
}

void TParam::AssignFieldValue(const TField* field, const Variant& value) {
  if (!field) return;
  data_type_ = field->DataType();
  value_ = value.IsEmpty() ? Variant::Null() : value;
  bound_ = true;
}

void TParam::Assign(const TParam& source) {
  if (&source == this) return;
  name_ = source.name_;
  data_type_ = source.data_type_;
  if (param_type_ == ptUnknown) param_type_ = source.param_type_;
  bound_ = source.bound_;
  value_ = source.value_;
}

TParam* TParams::Items(int index) const {
  CheckListIndex(index, items_.size());
  return items_[static_cast<size_t>(index)].get();
}

TParam* TParams::CreateParam(TFieldType type, std::string name, TParamType param_type) {
  items_.push_back(std::make_unique<TParam>(std::move(name), type, param_type));
  return items_.back().get();
}

void TParams::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TParams::Clear() {
  items_.clear();
}

TParam* TParams::FindParam(std::string_view name) const {
  int index = IndexOfName(items_, name);
  return index < 0 ? nullptr : items_[static_cast<size_t>(index)].get();
}

TParam* TParams::ParamByName(std::string_view name) const {
  TParam* param = FindParam(name);
  if (!param) DatabaseError(fmt::format("Parameter '{}' not found", name), owner_);
  return param;
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  Clear();
  for (const auto& param : source.items_)
    CreateParam(ftUnknown, std::string(), ptUnknown)->Assign(*param);
}

void TParams::AssignValues(const TParams& source) {
  if (&source == this) return;
  for (const auto& param : source.items_) {
    TParam* own = FindParam(param->Name());
    if (!own) continue;
    std::string name = own->Name();  // the text's spelling stays
    own->Assign(*param);
    own->SetName(std::move(name));
  }
}

std::string TParams::ParseSQL(std::string_view sql, bool do_create) {
  if (do_create) Clear();
  std::string text;
  text.reserve(sql.size());
  char closing = 0;  // the character that ends the literal we are in
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (closing) {
      text += c;
      if (c == closing) closing = 0;  // a doubled quote reopens at once
      continue;
    }
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      closing = c == '[' ? ']' : c;
      text += c;
      continue;
    }
    if (c != ':') {
      text += c;
      continue;
    }
    if (i + 1 < sql.size() && sql[i + 1] == ':') {
      text += ':';
      ++i;
      continue;
    }
    std::string name;
    size_t end = i + 1;
    if (end < sql.size() && (sql[end] == '"' || sql[end] == '\'' || sql[end] == '`')) {
      size_t close = sql.find(sql[end], end + 1);
      if (close == std::string_view::npos) close = sql.size();
      name = std::string(sql.substr(end + 1, close - end - 1));
      end = std::min(close + 1, sql.size());
    } else {
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      name = std::string(sql.substr(i + 1, end - i - 1));
    }
    if (name.empty()) {
      text += ':';
      continue;
    }
    text += '?';
    if (do_create && !FindParam(name)) CreateParam(ftUnknown, std::move(name), ptUnknown);
    i = end - 1;
  }
  return text;
}

}  // namespace orv
