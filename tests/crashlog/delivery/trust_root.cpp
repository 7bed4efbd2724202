// Adds an authority's certificate (a DER file) to the current user's ROOT store of the Wine
// prefix, or takes it out again, so that the TLS tests have an authority the system trusts.
//   crashlog_trust_root add|remove FILE.der
// Exit code 0 on success.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s add|remove FILE.der\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (der.empty()) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  HCERTSTORE store = ::CertOpenSystemStoreA(0, "ROOT");
  if (!store) {
    std::fprintf(stderr, "CertOpenSystemStore failed: %lu\n", ::GetLastError());
    return 1;
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
  PCCERT_CONTEXT added = nullptr;
  bool ok = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_REPLACE_EXISTING, &added) != FALSE;
  if (ok && std::string(argv[1]) == "remove") {
    ok = ::CertDeleteCertificateFromStore(added) != FALSE;  // frees the context too
    added = nullptr;
  }
  if (!ok) std::fprintf(stderr, "%s failed: %lu\n", argv[1], ::GetLastError());
  if (added) ::CertFreeCertificateContext(added);
  ::CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
