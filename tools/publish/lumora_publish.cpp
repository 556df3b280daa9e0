// lumora_publish: the operator's publishing tool (a native Linux program over
// OpenSSL's libcrypto; it runs where the operator's servers run). It makes
// the signing key pair, signs the configuration replies and the configuration
// data, and writes a release folder from a folder of packages and a small
// release description. docs/publishing.md is its manual.
//
//   lumora_publish keygen <folder>
//   lumora_publish keyid <public key .pem>
//   lumora_publish sign <private key .pem> <file>...            (writes <file>.sig)
//   lumora_publish verify <public key .pem> <file> [<signature file>]
//   lumora_publish digest <file>...
//   lumora_publish release <release.json> --packages <folder> --key <private key .pem>
//                          --out <folder> [site options]      (also <out>/site: site_layout.h)
//   lumora_publish check --key <public key .pem>... --config-endpoint <address> [options]
//                                                             (a live site: site_check.h)
//
// A signature file holds the value of the response header X-Lumora-Signature
// that must travel with the file's bytes: "k=<key id>; s=<base64 DER>".
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "json_util.h"
#include "site_check.h"
#include "site_layout.h"
#include "trust_text.h"

namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The DER prefix of a P-256 SubjectPublicKeyInfo up to the point's 0x04.
const unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

struct Failure {
  std::string what;
};

[[noreturn]] void Fail(const std::string& what) { throw Failure{what}; }

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return true;
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  const std::string temporary = path + ".new";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) Fail("cannot write " + path);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) Fail("cannot write " + path);
  chmod(temporary.c_str(), mode);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) Fail("cannot write " + path);
}

PkeyPtr ReadPrivateKey(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (key == nullptr) Fail(path + " is not a PEM private key");
  return PkeyPtr(key, EVP_PKEY_free);
}

PkeyPtr ReadPublicKey(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  EVP_PKEY* key = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (key == nullptr) Fail(path + " is not a PEM public key");
  return PkeyPtr(key, EVP_PKEY_free);
}

// X||Y of a P-256 key (private or public).
trust::PublicPoint PointOf(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owner(
      der, [](unsigned char* p) { OPENSSL_free(p); });
  if (length != 91 || std::memcmp(der, kSpkiPrefix, sizeof kSpkiPrefix) != 0)
    Fail("the key is not an ECDSA P-256 (prime256v1) key");
  trust::PublicPoint point{};
  std::memcpy(point.data(), der + sizeof kSpkiPrefix, point.size());
  return point;
}

trust::Digest Sha256(const std::string& bytes) {
  trust::Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    Fail("SHA-256 failed");
  return digest;
}

trust::KeyId KeyIdOf(const trust::PublicPoint& point) {
  const trust::Digest digest =
      Sha256(std::string(reinterpret_cast<const char*>(point.data()), point.size()));
  trust::KeyId id{};
  std::memcpy(id.data(), digest.data(), id.size());
  return id;
}

// SHA-256 and size of a file, read in 64 KiB pieces.
trust::Digest FileDigest(const std::string& path, long long& size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::vector<char> buffer(64 * 1024);
  size = 0;
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
    EVP_DigestUpdate(context.get(), buffer.data(), got);
    size += static_cast<long long>(got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) Fail("cannot read " + path);
  trust::Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest.data(), &length);
  return digest;
}

// The signature header for `bytes`.
std::string SignatureText(EVP_PKEY* key, const std::string& bytes) {
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t length = 0;
  if (EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
    Fail("signing failed");
  std::string der(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&der[0]), &length,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
    Fail("signing failed");
  der.resize(length);
  trust::RawSignature raw{};
  if (!trust::DerToRaw(der, raw)) Fail("OpenSSL wrote a signature that is not strict DER");
  return trust::SignatureHeaderText(KeyIdOf(PointOf(key)), raw);
}

// True when `header` is a valid signature of `bytes` by `key`; `why` says
// what failed otherwise.
bool Verify(EVP_PKEY* key, const std::string& bytes, const std::string& header, std::string& why) {
  trust::SignatureHeader parsed;
  switch (trust::ParseSignatureHeader(header, parsed)) {
    case trust::HeaderError::Missing:
      why = "no signature";
      return false;
    case trust::HeaderError::Malformed:
      why = "the signature text is malformed";
      return false;
    case trust::HeaderError::None:
      break;
  }
  if (parsed.keyId != KeyIdOf(PointOf(key))) {
    why = "signed with another key (key id " +
          trust::HexText(parsed.keyId.data(), parsed.keyId.size()) + ")";
    return false;
  }
  const std::string der = trust::RawToDer(parsed.signature);
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1) {
    why = "verification failed to start";
    return false;
  }
  if (EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    why = "the bytes do not fit the signature (altered)";
    return false;
  }
  return true;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Writes `text` and its signature file.
void WriteSigned(EVP_PKEY* key, const std::string& path, const std::string& text) {
  WriteFile(path, text);
  WriteFile(path + ".sig", SignatureText(key, text) + "\n");
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  const std::string absolute(resolved);
  std::free(resolved);
  return absolute;
}

int KeyGen(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  const std::string privatePath = JoinPath(folder, "config-signing.key");
  const std::string publicPath = JoinPath(folder, "config-signing.pub.pem");
  struct stat st{};
  if (stat(privatePath.c_str(), &st) == 0) Fail(privatePath + " exists; not overwritten");
  PkeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) Fail("key generation failed");
  for (const auto& out : {std::make_pair(privatePath, true), std::make_pair(publicPath, false)}) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    const int ok = out.second ? PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0,
                                                         nullptr, nullptr)
                              : PEM_write_bio_PUBKEY(bio.get(), key.get());
    if (ok != 1) Fail("cannot write the key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    WriteFile(out.first, std::string(data, static_cast<size_t>(length)), out.second ? 0600 : 0644);
  }
  const trust::KeyId id = KeyIdOf(PointOf(key.get()));
  // Absolute paths: the build keeps the public key's path in its cache and
  // reads it again from its own folder.
  const std::string publicAbsolute = AbsolutePath(publicPath);
  std::cout << "private key: " << AbsolutePath(privatePath)
            << " (keep it offline; never on the web server)\n"
            << "public key:  " << publicAbsolute << " (give it to the launcher's build: "
            << "-DLUMORA_CONFIG_PUBLIC_KEY=" << publicAbsolute << ")\n"
            << "key id:      " << trust::HexText(id.data(), id.size()) << "\n";
  return 0;
}

// --- release ------------------------------------------------------------------

Json::Value PackageEntry(const Json::Value& part, const std::string& packages,
                         const std::string& base, const std::string& out, const char* what) {
  const std::string package = rt::StringMember(part, "package");
  const int32_t version = rt::IntMember(part, "version", 0);
  if (package.empty() || package.find('/') != std::string::npos)
    Fail(std::string(what) + ": \"package\" must be a file name in the packages folder");
  if (version == 0) Fail(std::string(what) + ": \"version\" must be a non-zero integer");
  const std::string path = JoinPath(packages, package);
  long long size = 0;
  const trust::Digest digest = FileDigest(path, size);
  std::string bytes;
  if (!ReadFile(path, bytes)) Fail("cannot read " + path);
  WriteFile(JoinPath(out, package), bytes);
  Json::Value entry(Json::objectValue);
  entry["version"] = version;
  entry["url"] = part.isMember("url") ? rt::StringMember(part, "url") : base + package;
  if (entry["url"].asString().empty()) Fail(std::string(what) + ": \"url\" must be a text");
  entry["sha256"] = trust::DigestText(digest);
  if (size <= 2147483647LL)
    entry["size"] = static_cast<Json::Int>(size);
  else
    entry["size"] = static_cast<Json::Int64>(size);
  std::cout << "  " << what << " " << version << ": " << package << ", " << size << " bytes, sha256 "
            << trust::DigestText(digest) << "\n";
  return entry;
}

int Release(const std::string& description, const std::string& packages, const std::string& keyPath,
            const std::string& out) {
  std::string text;
  if (!ReadFile(description, text)) Fail("cannot read " + description);
  Json::Value release;
  if (!rt::ParseJson(text, release) || !release.isObject())
    Fail(description + " is not a JSON object");
  PkeyPtr key = ReadPrivateKey(keyPath);
  const trust::KeyId id = KeyIdOf(PointOf(key.get()));
  mkdir(out.c_str(), 0755);
  const std::string base = rt::StringMember(release, "packageBase");
  const std::string configUrl = rt::StringMember(release, "configUrl");
  const int32_t configVersion = rt::IntMember(release, "configVersion", 0);
  if (configUrl.empty() || configVersion == 0)
    Fail("the release needs \"configUrl\" (text) and \"configVersion\" (non-zero integer)");
  std::cout << "release into " << out << ", signed with key " << trust::HexText(id.data(), id.size())
            << ":\n";

  // The configuration data: what the operator adds, then the packages.
  Json::Value data(Json::objectValue);
  if (release.isMember("configExtra")) {
    if (!release["configExtra"].isObject()) Fail("\"configExtra\" must be an object");
    data = release["configExtra"];
  }
  if (release.isMember("platform"))
    data["platform"] = PackageEntry(release["platform"], packages, base, out, "platform");
  if (!release.isMember("hall")) Fail("the release needs \"hall\" (the launcher refuses without)");
  Json::Value hall = PackageEntry(release["hall"], packages, base, out, "hall");
  hall["file"] = rt::StringMember(release["hall"], "file", "Orlune.exe");
  if (release["hall"].isMember("params")) {
    if (!release["hall"]["params"].isString()) Fail("hall \"params\" must be a text");
    hall["params"] = release["hall"]["params"];
  }
  data["info"] = hall;
  WriteSigned(key.get(), JoinPath(out, "config.json"), rt::StyledText(data));

  // The configuration reply of a launcher that is up to date.
  Json::Value reply(Json::objectValue);
  reply["code"] = 1;
  reply["version"] = configVersion;
  reply["url"] = configUrl;
  if (release.isMember("calls")) {
    if (!release["calls"].isArray()) Fail("\"calls\" must be an array of operation-call texts");
    reply["data"] = release["calls"];
  }
  WriteSigned(key.get(), JoinPath(out, "starterUpdate.json"), rt::StyledText(reply));
  std::cout << "  configuration " << configVersion << " at " << configUrl << "\n";

  // The reply that orders a launcher update.
  if (release.isMember("launcher")) {
    const Json::Value& launcher = release["launcher"];
    const int32_t type = rt::IntMember(launcher, "type", 1);
    if (type != 1 && type != 2) Fail("launcher \"type\" must be 1 or 2");
    Json::Value update = PackageEntry(launcher, packages, base, out, "launcher");
    update["code"] = 2;
    update["type"] = type;
    WriteSigned(key.get(), JoinPath(out, "starterUpdate.launcher.json"), rt::StyledText(update));
  }
  std::cout << "written: config.json, starterUpdate.json"
            << (release.isMember("launcher") ? ", starterUpdate.launcher.json" : "")
            << " (each with its .sig) and the packages\n";
  return 0;
}

int Usage();

// --- the site and its check (dispatch; the work is in site_*.cpp) ---------------

// Takes the site options out of `args` (the rest is the release's own).
site::SiteOptions TakeSiteOptions(std::vector<std::string>& args) {
  site::SiteOptions options;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool valued = i + 1 < args.size();
    if (valued && args[i] == "--site-root") options.root = args[++i];
    else if (valued && args[i] == "--tls") options.tlsFolder = args[++i];
    else if (valued && args[i] == "--config-endpoint") options.configEndpoint = args[++i];
    else if (valued && args[i] == "--statistics-endpoint") options.statisticsEndpoint = args[++i];
    else rest.push_back(args[i]);
  }
  args = rest;
  return options;
}

// The release's site in <out>/site.
int WriteReleaseSite(const std::string& description, const std::string& out,
                     const site::SiteOptions& options) {
  std::string text, why;
  Json::Value release;
  if (!ReadFile(description, text) || !rt::ParseJson(text, release)) Fail("cannot read " + description);
  site::SitePlan plan;
  if (!site::PlanRelease(release, out, options, plan, why)) Fail("the site: " + why);
  const std::string folder = JoinPath(out, "site");
  if (!site::WriteSite(plan, folder, why)) Fail("the site: " + why);
  std::cout << "site: " << folder << " (copy it to " << plan.root << " on the server; its nginx.conf "
            << "goes into nginx's http block; then nginx -t && nginx -s reload):\n";
  for (const site::ServedFile& file : plan.files)
    std::cout << "  " << file.url.Origin() << file.url.path << (file.signature.empty() ? "" : " (signed)")
              << "\n";
  std::cout << "  " << plan.replies.endpoint.Origin() << plan.replies.endpoint.path
            << (plan.replies.endpoint.path == "/" ? "" : "/") << "starterUpdate.do"
            << (plan.replies.launcherUpdate
                    ? " (the launcher update for v below " + std::to_string(plan.replies.newestLauncher) + ")"
                    : "")
            << "\n";
  return 0;
}

int Check(const std::vector<std::string>& args) {
  site::CheckOptions options;
  site::FetchOptions fetch;
  std::vector<PkeyPtr> keys;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--allow-http") {
      options.allowHttp = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage();
    const std::string& value = args[++i];
    if (option == "--key") keys.push_back(ReadPublicKey(value));
    else if (option == "--config-endpoint") options.configEndpoint = value;
    else if (option == "--statistics-endpoint") options.statisticsEndpoint = value;
    else if (option == "--ca") fetch.caFile = value;
    else if (option == "--launcher-version") options.launcherVersion = std::atoi(value.c_str());
    else if (option == "--union-code") options.unionCode = std::atoi(value.c_str());
    else return Usage();
  }
  if (keys.empty() || options.configEndpoint.empty()) return Usage();
  // The tool's own verification, with every key the launchers carry.
  const site::Verifier verify = [&](site::DocumentKind, const std::string& bytes,
                                    const std::string& header, std::string& why) {
    std::string first;
    for (const PkeyPtr& key : keys) {
      if (Verify(key.get(), bytes, header, why)) return true;
      if (first.empty() || why.compare(0, 16, "signed with anot") != 0) first = why;
    }
    why = first;
    return false;
  };
  const site::Fetcher get = [&](const std::string& url) { return site::Fetch(url, fetch); };
  const site::CheckReport report = site::CheckSite(options, get, verify);
  for (const std::string& line : report.ok) std::cout << "ok: " << line << "\n";
  for (const std::string& line : report.problems) std::cout << "PROBLEM: " << line << "\n";
  std::cout << (report.problems.empty() ? "check: the site is as launchers need it\n"
                                        : "check: " + std::to_string(report.problems.size()) +
                                              " problem(s)\n");
  return report.problems.empty() ? 0 : 1;
}

int Usage() {
  std::cerr << "usage:\n"
               "  lumora_publish keygen <folder>\n"
               "  lumora_publish keyid <public key .pem>\n"
               "  lumora_publish sign <private key .pem> <file>...\n"
               "  lumora_publish verify <public key .pem> <file> [<signature file>]\n"
               "  lumora_publish digest <file>...\n"
               "  lumora_publish release <release.json> --packages <folder> --key <private key .pem> "
               "--out <folder>\n"
               "                 [--site-root <folder on the server>] [--tls <certificate folder>]\n"
               "                 [--config-endpoint <address>] [--statistics-endpoint <address>]\n"
               "  lumora_publish check --key <public key .pem> [--key ...] --config-endpoint <address>\n"
               "                 [--statistics-endpoint <address>] [--ca <file>] [--launcher-version <v>]\n"
               "                 [--union-code <n>] [--allow-http]\n";
  return 2;
}

int Run(std::vector<std::string> args) {
  if (args.empty()) return Usage();
  const std::string command = args[0];
  if (command == "check") return Check(args);
  const site::SiteOptions siteOptions = TakeSiteOptions(args);
  if (command == "keygen" && args.size() == 2) return KeyGen(args[1]);
  if (command == "keyid" && args.size() == 2) {
    const trust::KeyId id = KeyIdOf(PointOf(ReadPublicKey(args[1]).get()));
    std::cout << trust::HexText(id.data(), id.size()) << "\n";
    return 0;
  }
  if (command == "sign" && args.size() >= 3) {
    PkeyPtr key = ReadPrivateKey(args[1]);
    for (size_t i = 2; i < args.size(); ++i) {
      std::string bytes;
      if (!ReadFile(args[i], bytes)) Fail("cannot read " + args[i]);
      WriteFile(args[i] + ".sig", SignatureText(key.get(), bytes) + "\n");
      std::cout << args[i] << ".sig\n";
    }
    return 0;
  }
  if (command == "verify" && (args.size() == 3 || args.size() == 4)) {
    PkeyPtr key = ReadPublicKey(args[1]);
    std::string bytes, header;
    if (!ReadFile(args[2], bytes)) Fail("cannot read " + args[2]);
    const std::string sigPath = args.size() == 4 ? args[3] : args[2] + ".sig";
    if (!ReadFile(sigPath, header)) Fail("cannot read " + sigPath);
    std::string why;
    if (!Verify(key.get(), bytes, Trimmed(header), why)) {
      std::cout << args[2] << ": NOT VALID: " << why << "\n";
      return 1;
    }
    std::cout << args[2] << ": valid\n";
    return 0;
  }
  if (command == "digest" && args.size() >= 2) {
    for (size_t i = 1; i < args.size(); ++i) {
      long long size = 0;
      std::cout << trust::DigestText(FileDigest(args[i], size)) << "  " << size << "  " << args[i]
                << "\n";
    }
    return 0;
  }
  if (command == "release" && args.size() == 8) {
    std::string packages, key, out;
    for (size_t i = 2; i + 1 < args.size(); i += 2) {
      if (args[i] == "--packages") packages = args[i + 1];
      else if (args[i] == "--key") key = args[i + 1];
      else if (args[i] == "--out") out = args[i + 1];
      else return Usage();
    }
    if (packages.empty() || key.empty() || out.empty()) return Usage();
    const int result = Release(args[1], packages, key, out);
    return result != 0 ? result : WriteReleaseSite(args[1], out, siteOptions);
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Failure& failure) {
    std::cerr << "lumora_publish: " << failure.what << "\n";
    return 1;
  }
}
