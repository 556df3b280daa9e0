#include "device_identity.h"

#include <windows.h>

#include <bcrypt.h>
#include <iphlpapi.h>
#include <zlib.h>

#include <memory>

#include "config_store.h"
#include "endpoints.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "operation_engine.h"
#include "param_envelope.h"

namespace {

const char kHexUpper[] = "0123456789ABCDEF";
const char kHexLower[] = "0123456789abcdef";

std::string Hex(const uint8_t* bytes, size_t length, const char* digits) {
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}

// Owners of the cryptography provider's handles.
struct AlgorithmCloser {
  void operator()(void* h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashDestroyer {
  void operator()(void* h) const { BCryptDestroyHash(h); }
};

}  // namespace

std::string AdapterEntry(const AdapterRecord& adapter) {
  std::string entry = adapter.description + kEntrySeparator + adapter.name;
  if (!adapter.address.empty())
    entry += kEntrySeparator + Hex(adapter.address.data(), adapter.address.size(), kHexUpper);
  return entry;
}

std::string AdapterListJson(const std::vector<AdapterRecord>& adapters) {
  Json::Value list(Json::arrayValue);
  for (const AdapterRecord& adapter : adapters)
    if (adapter.type == kEthernetAdapterType) list.append(AdapterEntry(adapter));
  return rt::StyledText(list);
}

std::string JoinAdapterList(const std::string& listJson) {
  Json::Value list;
  if (!rt::ParseJson(listJson, list) || !list.isArray() || list.empty()) return std::string();
  std::string text;
  for (const Json::Value& entry : list) {
    if (entry.isString()) text += entry.asString();
    text += kEntryEnd;
  }
  return text;
}

std::string RegistrationText(const std::string& storedId, const std::string& newId,
                             const std::string& adapterList) {
  return storedId + kRegistrationSeparator + newId + kRegistrationSeparator + adapterList;
}

std::string DeflateRaw(const std::string& text) {
  const size_t capacity = static_cast<size_t>((text.size() + 12) * 1.01) + 1;
  std::string out(capacity, '\0');
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return std::string();
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int code = deflate(&stream, Z_FINISH);
  const size_t produced = stream.total_out;
  deflateEnd(&stream);
  if (code != Z_STREAM_END) return std::string();
  out.resize(produced);
  return out;
}

std::string RegistrationValue(const std::string& registrationText) {
  return ParamEnvelope::Wrap(DeflateRaw(registrationText));
}

std::string Md5Hex(const std::string& bytes) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
    return std::string();
  std::unique_ptr<void, AlgorithmCloser> algorithmOwner(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
    return std::string();
  std::unique_ptr<void, HashDestroyer> hashOwner(hash);
  if (!bytes.empty() &&
      !BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                     static_cast<ULONG>(bytes.size()), 0)))
    return std::string();
  uint8_t digest[16];
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0))) return std::string();
  return Hex(digest, sizeof digest, kHexLower);
}

std::vector<AdapterRecord> QueryAdapters() {
  std::vector<AdapterRecord> adapters;
  // A first buffer of 648 bytes; a larger one when the system asks for it.
  ULONG size = 648;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]());
  DWORD code = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
  if (code == ERROR_BUFFER_OVERFLOW) {
    buffer.reset(new uint8_t[size]());
    code = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
  }
  if (code != ERROR_SUCCESS) return adapters;
  for (auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()); info; info = info->Next) {
    AdapterRecord record;
    record.type = info->Type;
    record.description = info->Description;
    record.name = info->AdapterName;
    const UINT length = info->AddressLength < sizeof info->Address ? info->AddressLength
                                                                   : sizeof info->Address;
    record.address.assign(info->Address, info->Address + length);
    adapters.push_back(std::move(record));
  }
  return adapters;
}

std::string ListEthernetAdapters() { return AdapterListJson(QueryAdapters()); }

std::string ComputeDeviceId() {
  const std::string list = JoinAdapterList(ListEthernetAdapters());
  const std::string id = Md5Hex(list);
  const Json::Value stored = LoadConfigJson("CFG_DID");
  const std::string storedId = rt::IsNonEmptyObject(stored) ? rt::StringMember(stored, "id") : "";
  if (id == storedId) return id;

  Json::Value record(Json::objectValue);
  record["id"] = id;
  WriteConfigJson("CFG_DID", record);

  Json::Value call(Json::objectValue);
  call["op"] = "URL_LoadData";
  call["opsign"] = TakeOpsign();
  call["code"] = 2;
  call["url"] = RegistrationUrl(StatisticsEndpointBase(),
                                RegistrationValue(RegistrationText(storedId, id, list)));
  PostCall(kLauncherModule, rt::StyledText(call));
  return id;
}

std::string GetDeviceId() {
  static const std::string id = ComputeDeviceId();
  return id;
}

std::string GetDeviceIdParam() { return ParamEnvelope::Wrap(GetDeviceId()); }

void StatisticsOperation(const std::string&, Json::Value) {
  const LauncherApp& app = LauncherApp::Get();
  const Json::Value info = LoadConfigJson("CFG_ConfigInfo");
  const int32_t cv = rt::IsNonEmptyObject(info) ? rt::IntMember(info, "version") : 0;
  const int32_t debug =
      app.HasSigns(kSignDebug) ? (app.debugCode | 0x10000) : app.debugCode;
  // The first identity of the process may queue its registration first.
  const std::string url = StatisticsUrl(StatisticsEndpointBase(), kLauncherBuildNumber,
                                        GetDeviceIdParam(), app.unionCode, debug, app.signs, cv);
  Json::Value call(Json::objectValue);
  call["op"] = "URL_LoadData";
  call["opsign"] = TakeOpsign();
  call["code"] = 2;
  call["url"] = url;
  PostCall(kLauncherModule, rt::StyledText(call));
}
