// The statement formatter. The input is a format text, a zero byte, and the
// bytes the conversions' values are taken from. A formatted statement never
// has an unbalanced quote or bracket, never holds a zero byte, keeps within
// the width limits, and reads like the format: every value that landed in a
// quoted literal reads back as given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "sql_context.h"
#include "statement_format.h"

namespace {

// Values drawn from the fuzzer's bytes, in the order the conversions ask.
class BytesArgs final : public strata::StatementArgs {
 public:
  BytesArgs(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  long long Signed(strata::ArgSize) override { return static_cast<long long>(Take(8)); }
  unsigned long long Unsigned(strata::ArgSize) override { return Take(8); }
  double Real() override {
    const uint64_t bits = Take(8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  int Char() override { return static_cast<int>(Take(1)); }
  const char* Text() override {
    // A length byte, then that many bytes (zero bytes end the text early).
    const size_t length = static_cast<size_t>(Take(1));
    std::string text;
    for (size_t i = 0; i < length && at_ < size_; ++i) text += static_cast<char>(data_[at_++]);
    texts_.push_back(text);
    return texts_.back().c_str();
  }

 private:
  uint64_t Take(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes && at_ < size_; ++i) value = (value << 8) | data_[at_++];
    return value;
  }
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  std::vector<std::string> texts_;
};

size_t Count(const std::string& text, char c) {
  size_t n = 0;
  for (char x : text) n += x == c ? 1 : 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t formatSize = zero ? static_cast<size_t>(zero - data) : size;
  const std::string format(reinterpret_cast<const char*>(data), formatSize);
  const size_t rest = zero ? size - formatSize - 1 : 0;
  BytesArgs args(zero ? zero + 1 : data + size, rest);

  std::string out, error;
  const bool ok = strata::FormatStatement(format.c_str(), args, out, error);
  const std::string shown = fuzz::Shown(format);
  if (!ok) {
    FUZZ_CHECK(out.empty() && !error.empty(), shown);
    return 0;
  }
  FUZZ_CHECK(error.empty(), shown);
  FUZZ_CHECK(out.find('\0') == std::string::npos, shown);
  const strata::SqlContext end = strata::SqlContextAfter(out);
  FUZZ_CHECK(!strata::IsQuoted(end), shown + "\n  gave: " + fuzz::Shown(out));
  // Each conversion adds at most the width limit plus its text (or a number).
  const size_t conversions = Count(format, '%');
  FUZZ_CHECK(out.size() <= format.size() + conversions * (2 * strata::kMaxConversionWidth + 2 * 255 + 400),
             shown);
  // Without conversions the statement is the format itself.
  if (conversions == 0) FUZZ_CHECK(out == format, shown);
  return 0;
}
