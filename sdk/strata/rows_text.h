// The JSON text of a statement's rows: an array with one object per row and
// one member per column. Texts and blobs keep their bytes (code page 936 text
// passes through unchanged); only quotes, backslashes and control characters
// are escaped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace strata {

class RowsText {
 public:
  RowsText() : text_("[") {}

  void BeginRow();
  void AddNull(const char* column);
  void AddInteger(const char* column, int64_t value);
  // Infinite and NaN values have no JSON form: they become null.
  void AddReal(const char* column, double value);
  void AddText(const char* column, const char* data, size_t length);
  void EndRow();

  // The finished array text; the builder is empty afterwards.
  std::string Take();
  size_t RowCount() const { return rows_; }

 private:
  void AddName(const char* column);

  std::string text_;
  size_t rows_ = 0;
  size_t columns_ = 0;
};

// Appends `data` as a quoted JSON string.
void AppendJsonString(std::string& out, const char* data, size_t length);

}  // namespace strata
