// The texts of the trusted update channel, read without any system call:
//   - the signature that travels with a signed reply (the response header
//     "X-Lumora-Signature"): "k=<key id>; s=<signature>", where the key id is
//     16 hex digits (the first 8 bytes of SHA-256 over the signing key's
//     public point X||Y) and the signature is standard base64 of an ECDSA
//     P-256 signature, either DER (as OpenSSL writes it) or raw r||s;
//   - package digests: SHA-256 as 64 hex digits, either case.
// Everything here takes hostile input: lengths are checked before use and
// nothing is read past the text given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace trust {

using Digest = std::array<uint8_t, 32>;   // SHA-256
using KeyId = std::array<uint8_t, 8>;     // first 8 bytes of SHA-256(X||Y)
using RawSignature = std::array<uint8_t, 64>;  // r||s, each 32 bytes big-endian
using PublicPoint = std::array<uint8_t, 64>;   // X||Y of a P-256 public key

// The longest signature header taken (a DER signature in base64 with its key
// id needs about 120 characters).
constexpr size_t kMaxSignatureText = 512;

// Standard base64 (RFC 4648 alphabet with '+' and '/'), padded with '=' to a
// multiple of four characters, no spaces or line breaks. False for anything
// else, non-zero bits left over in the last character included.
bool DecodeBase64(const std::string& text, std::string& bytes);
std::string EncodeBase64(const std::string& bytes);

// An ECDSA signature as DER: SEQUENCE { INTEGER r, INTEGER s }, strictly
// (short definite lengths, minimal integer encodings, positive values of at
// most 32 bytes, nothing after the sequence). False for anything else.
bool DerToRaw(const std::string& der, RawSignature& raw);
// The DER form of r||s (for tests and the tools).
std::string RawToDer(const RawSignature& raw);

// A signature in either form: strict DER first, else exactly 64 bytes as
// r||s. False for other lengths or a broken DER that is not 64 bytes long.
bool SignatureBytes(const std::string& bytes, RawSignature& raw);

// Hex digits of either case into bytes; exactly 2 * N digits, nothing else.
bool ParseHex(const std::string& text, uint8_t* out, size_t size);
std::string HexText(const uint8_t* bytes, size_t size);  // lower case

// A package digest: exactly 64 hex digits of either case.
bool ParseDigest(const std::string& text, Digest& digest);
std::string DigestText(const Digest& digest);

// The parts of a signature header.
struct SignatureHeader {
  KeyId keyId{};
  RawSignature signature{};
};

enum class HeaderError {
  None,
  Missing,    // no header, or an empty one
  Malformed,  // anything that is not "k=<16 hex>; s=<base64 signature>"
};

// Reads "k=<key id>; s=<base64>" (parts in either order, separated by ';'
// with optional spaces around them, no tabs; each part exactly once; no other
// parts). An empty text (or one of spaces only) is Missing.
HeaderError ParseSignatureHeader(const std::string& text, SignatureHeader& header);

// The header text for a key id and a signature (DER in base64, as the
// publishing tool writes it).
std::string SignatureHeaderText(const KeyId& keyId, const RawSignature& signature);

}  // namespace trust
