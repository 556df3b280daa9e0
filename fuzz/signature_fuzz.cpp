// The texts of the trusted channel: any signature header, base64 text, DER
// signature or digest is read or refused without harm, and what is read is
// read one way only (writing it again gives the same text).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "trust_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string shown = fuzz::Shown(text);

  trust::SignatureHeader header;
  const trust::HeaderError error = trust::ParseSignatureHeader(text, header);
  if (error == trust::HeaderError::None) {
    FUZZ_CHECK(text.size() <= trust::kMaxSignatureText, shown);
    trust::SignatureHeader again;
    FUZZ_CHECK(trust::ParseSignatureHeader(
                   trust::SignatureHeaderText(header.keyId, header.signature), again) ==
                   trust::HeaderError::None,
               shown);
    FUZZ_CHECK(again.keyId == header.keyId && again.signature == header.signature, shown);
  } else if (error == trust::HeaderError::Missing) {
    for (char c : text) FUZZ_CHECK(c == ' ', shown);
  }

  std::string bytes;
  if (trust::DecodeBase64(text, bytes)) {
    FUZZ_CHECK(trust::EncodeBase64(bytes) == text, shown);
  }
  FUZZ_CHECK(trust::DecodeBase64(trust::EncodeBase64(text), bytes) && bytes == text, shown);

  // Strict DER has one encoding: reading and writing gives the same bytes.
  trust::RawSignature raw{};
  if (trust::DerToRaw(text, raw)) FUZZ_CHECK(trust::RawToDer(raw) == text, shown);
  if (trust::SignatureBytes(text, raw)) FUZZ_CHECK(text.size() == 64 || text[0] == '\x30', shown);

  trust::Digest digest{};
  if (trust::ParseDigest(text, digest)) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_CHECK(trust::DigestText(digest) == lower, shown);
  } else {
    FUZZ_CHECK(text.size() != 64 || text.find_first_not_of("0123456789abcdefABCDEF") !=
                                        std::string::npos,
               shown);
  }
  return 0;
}
