// The device identity: the MD5 digest of a text built from the computer's
// Ethernet adapters. The text building, the registration text and its
// compression are pure functions of the adapter records; the adapter query,
// the digest (the system's cryptography API) and the stored record are the
// thin layer around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

// What the identity takes from one adapter record of the system's list.
struct AdapterRecord {
  uint32_t type = 0;              // 6: Ethernet
  std::string description;        // system code page
  std::string name;
  std::vector<uint8_t> address;   // the hardware address, possibly empty
};

constexpr uint32_t kEthernetAdapterType = 6;
constexpr char kEntrySeparator = 0x04;
constexpr char kEntryEnd = 0x08;
constexpr char kRegistrationSeparator = 0x12;

// "<description>\x04<name>[\x04<ADDRESS IN UPPER-CASE HEX>]"
std::string AdapterEntry(const AdapterRecord& adapter);
// The entries of the Ethernet adapters, in order, as a JSON array written by
// the styled writer.
std::string AdapterListJson(const std::vector<AdapterRecord>& adapters);
// The adapter list text: every element of that array followed by 0x08; empty
// when the text is not a non-empty array.
std::string JoinAdapterList(const std::string& listJson);
// "<stored id>\x12<new id>\x12<adapter list text>"
std::string RegistrationText(const std::string& storedId, const std::string& newId,
                             const std::string& adapterList);
// Raw deflate (no zlib header, window bits -15, default level, memory level 8,
// default strategy) into a buffer of ((length + 12) * 1.01) + 1 bytes; empty
// when compression fails.
std::string DeflateRaw(const std::string& text);
// The registration request's value: the compressed text in the parameter
// envelope.
std::string RegistrationValue(const std::string& registrationText);

// 32 lower-case hexadecimal digits of the MD5 digest (the system's
// cryptography provider); empty when the provider fails.
std::string Md5Hex(const std::string& bytes);

// The system's adapters (GetAdaptersInfo); empty when the query fails.
std::vector<AdapterRecord> QueryAdapters();
// The adapter list of this computer as the JSON array text.
std::string ListEthernetAdapters();

// The identity of this computer: computed once per process (the first call
// stores a changed identity and posts its registration request).
std::string GetDeviceId();
// The identity in the parameter envelope: the `did` of every request.
std::string GetDeviceIdParam();
// The computation itself.
std::string ComputeDeviceId();

// The operation "Statistics": reports the start to the statistics endpoint.
void StatisticsOperation(const std::string& op, Json::Value call);
