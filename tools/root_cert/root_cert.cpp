// root_cert.exe: adds a test CA to the Root store of the Wine prefix (or
// Windows) it runs in, or removes it again (not part of the product):
//   root_cert <ca.pem> [--remove]
// The certificate is PEM or DER. It goes into the local machine's "ROOT"
// system store, where WinHTTP's certificate checks find it; it stays there
// (in the prefix's registry) until removed. Exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadWhole(const char* path, std::string& bytes) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  bytes.clear();
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(f);
  return true;
}

// DER from a PEM text ("-----BEGIN CERTIFICATE-----"), or the bytes as they are.
std::vector<BYTE> CertificateBytes(const std::string& file) {
  DWORD size = 0;
  if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER,
                           nullptr, &size, nullptr, nullptr) &&
      size > 0) {
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      der.resize(size);
      return der;
    }
  }
  return std::vector<BYTE>(file.begin(), file.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--remove")) {
    std::fprintf(stderr, "usage: root_cert <ca.pem> [--remove]\n");
    return 2;
  }
  const bool remove = argc == 3;
  std::string file;
  if (!ReadWhole(argv[1], file)) {
    std::fprintf(stderr, "root_cert: cannot read %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  const std::vector<BYTE> der = CertificateBytes(file);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
  if (store == nullptr) {
    std::fprintf(stderr, "root_cert: cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  int code = 0;
  if (!remove) {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "root_cert: cannot add %s (error %lu)\n", argv[1], GetLastError());
      code = 1;
    } else {
      std::printf("root_cert: %s added to the Root store\n", argv[1]);
    }
  } else {
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                         static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        wanted == nullptr ? nullptr
                          : CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                       CERT_FIND_EXISTING, wanted, nullptr);
    if (found == nullptr) {
      std::printf("root_cert: %s is not in the Root store\n", argv[1]);
    } else if (!CertDeleteCertificateFromStore(found) ||  // frees `found`
               !CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
      std::fprintf(stderr, "root_cert: cannot remove %s (error %lu)\n", argv[1], GetLastError());
      code = 1;
    } else {
      std::printf("root_cert: %s removed from the Root store\n", argv[1]);
    }
    if (wanted != nullptr) CertFreeCertificateContext(wanted);
  }
  CertCloseStore(store, 0);
  return code;
}
