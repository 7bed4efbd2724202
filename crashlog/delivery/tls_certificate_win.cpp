// The server's certificate against the system's trusted roots and the host name. Both the SSL
// policy's verdict and the chain's own trust status count: under Wine the policy finds no error
// in a chain that ends in an authority nobody trusts, while the chain says it is partial.

#include "crashlog/delivery/delivery_win.h"
#include "crashlog/delivery/tls_channel.h"
#include "runtime/scoped_handle.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

namespace pelloran::crashlog {

namespace {

struct ChainContextTraits {
  using Handle = PCCERT_CHAIN_CONTEXT;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::CertFreeCertificateChain(h); }
};

std::wstring Wide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
  if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  return wide;
}

std::string TrustProblem(DWORD status) {
  if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) return "its authority is not trusted";
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return "it has expired or is not valid yet";
  if (status & CERT_TRUST_IS_REVOKED) return "it has been revoked";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "it is not for server authentication";
  if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "its signature is not valid";
  char text[64];
  std::snprintf(text, sizeof text, "its chain has trust errors 0x%lX", static_cast<unsigned long>(status));
  return text;
}

}  // namespace

TTlsPeerCheck CheckCertificateForServer(const void* certificateContext, const std::string& serverName) {
  const auto certificate = static_cast<PCCERT_CONTEXT>(certificateContext);
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chainContext = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                 &chainContext))
    return {false, "its chain cannot be built: " + SystemErrorText(::GetLastError())};
  const ScopedGeneric<ChainContextTraits> chain(chainContext);

  std::wstring name = Wide(serverName);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status))
    return {false, "the SSL policy cannot be checked: " + SystemErrorText(::GetLastError())};
  if (status.dwError != 0) {
    std::string problem = SystemErrorText(status.dwError);
    while (!problem.empty() && problem.back() == '.') problem.pop_back();
    return {false, problem};
  }
  if (chain.get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
    return {false, TrustProblem(chain.get()->TrustStatus.dwErrorStatus)};
  return {true, {}};
}

}  // namespace pelloran::crashlog
