// The signed shipped folder as Windows judges it: WinVerifyTrust (the check
// behind the elevation prompt's publisher and SmartScreen) on every exe and
// DLL, with the build's signing root trusted as an operator's would be.
// Built only when the build signs with a certificate whose root it is given
// (LUMORA_CODESIGN_CA, copied beside the tests as codesign-ca.pem).
#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authenticode.h"
#include "test_support.h"

namespace {

using testing_support::VerifyTrust;

std::string DistDir() { return testing_support::ProgramDir() + "..\\dist\\"; }

// The signing root in the machine's trusted roots while the test runs.
class TrustedRoot {
 public:
  TrustedRoot() {
    std::string pem;
    if (!testing_support::ReadFileBytes(testing_support::ProgramDir() + "codesign-ca.pem", pem))
      return;
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      return;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      return;
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (store_ == nullptr) return;
    added_ = CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size,
                                              CERT_STORE_ADD_REPLACE_EXISTING, &cert_) != FALSE;
  }
  ~TrustedRoot() {
    if (cert_ != nullptr) {
      CertDeleteCertificateFromStore(cert_);  // frees the context too
      CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  bool Added() const { return added_; }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT cert_ = nullptr;
  bool added_ = false;
};

const char* const kShipped[] = {"Lumora.exe", "Updater.exe", "Portus.exe", "CrashRpt.dll",
                                "Strata.dll", "Download.dll", "XLUE.dll", "lua51.dll"};

TEST(Trust, SignedShippedBinariesAreAccepted) {
  TrustedRoot root;
  ASSERT_TRUE(root.Added()) << GetLastError();
  for (const char* name : kShipped) {
    EXPECT_EQ(VerifyTrust(DistDir() + name), ERROR_SUCCESS) << name;
  }
}

TEST(Trust, ChangedOrUnsignedBinariesAreRefused) {
  TrustedRoot root;
  ASSERT_TRUE(root.Added()) << GetLastError();
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(DistDir() + "Lumora.exe", bytes));
  ASSERT_GT(bytes.size(), 0x2000u);
  // One byte of code changed after signing.
  bytes[0x1800] = static_cast<char>(bytes[0x1800] ^ 0x01);
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("Lumora.exe"), bytes));
  EXPECT_EQ(VerifyTrust(dir.File("Lumora.exe")), TRUST_E_BAD_DIGEST);
  // The same file before signing (the build keeps it for the unsigned ZIP).
  EXPECT_EQ(VerifyTrust(testing_support::ProgramDir() + "..\\dist-unsigned\\Lumora.exe"),
            TRUST_E_NOSIGNATURE);
}

}  // namespace
