#include "rows_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace strata {

void AppendJsonString(std::string& out, const char* data, size_t length) {
  out += '"';
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
        break;
    }
  }
  out += '"';
}

void RowsText::BeginRow() {
  if (rows_ > 0) text_ += ',';
  text_ += '{';
  columns_ = 0;
}

void RowsText::AddName(const char* column) {
  if (columns_++ > 0) text_ += ',';
  AppendJsonString(text_, column ? column : "", column ? std::strlen(column) : 0);
  text_ += ':';
}

void RowsText::AddNull(const char* column) {
  AddName(column);
  text_ += "null";
}

void RowsText::AddInteger(const char* column, int64_t value) {
  AddName(column);
  char number[32];
  std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value));
  text_ += number;
}

void RowsText::AddReal(const char* column, double value) {
  AddName(column);
  if (!std::isfinite(value)) {
    text_ += "null";
    return;
  }
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", value);
  text_ += number;
  // Keep it a real number for the reader: 2.0 must not come back as 2.
  if (std::strpbrk(number, ".eE") == nullptr) text_ += ".0";
}

void RowsText::AddText(const char* column, const char* data, size_t length) {
  AddName(column);
  AppendJsonString(text_, data ? data : "", data ? length : 0);
}

void RowsText::EndRow() {
  text_ += '}';
  ++rows_;
}

std::string RowsText::Take() {
  std::string done = std::move(text_);
  done += ']';
  text_ = "[";
  rows_ = 0;
  columns_ = 0;
  return done;
}

}  // namespace strata
