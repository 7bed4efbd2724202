#include "crashlog/infra/diagnostics/channel_security.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

using TBytes = std::vector<std::uint8_t>;

// A variable-sized record of the process token (TokenUser, TokenIntegrityLevel); empty on failure.
TBytes TokenRecord(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  if (size == 0) return {};
  TBytes record(size);
  if (!GetTokenInformation(token, kind, record.data(), size, &size)) return {};
  return record;
}

// AddMandatoryAce exists from Vista on: looked up, so that the program still loads without it.
bool AddIntegrityLabel(ACL* sacl, PSID level) {
  using AddMandatoryAceFunction = BOOL(WINAPI*)(PACL, DWORD, DWORD, DWORD, PSID);
  const HMODULE advapi = GetModuleHandleA("advapi32.dll");
  const FARPROC address = advapi != nullptr ? GetProcAddress(advapi, "AddMandatoryAce") : nullptr;
  if (address == nullptr) return false;
  const auto addMandatoryAce = reinterpret_cast<AddMandatoryAceFunction>(reinterpret_cast<void (*)()>(address));
  return addMandatoryAce(sacl, ACL_REVISION, 0, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP,
                         level) != FALSE;
}

class TChannelSecurity {
 public:
  TChannelSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    const ScopedGeneric<KernelHandleTraits> owned(token);
    user_ = TokenRecord(token, TokenUser);
    if (user_.empty()) return;
    PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    if (!IsValidSid(user) || !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return;
    if (!SetSecurityDescriptorOwner(&descriptor_, user, FALSE)) return;
    // One entry: the user, with every right on the block. Nobody else is named, so nobody else
    // gets in (administrators included).
    dacl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
    auto* dacl = reinterpret_cast<ACL*>(dacl_.data());
    if (!InitializeAcl(dacl, static_cast<DWORD>(dacl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(dacl, ACL_REVISION, FILE_MAP_ALL_ACCESS | READ_CONTROL, user) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, dacl, FALSE))
      return;
    AddLabel(token);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    built_ = true;
  }

  SECURITY_ATTRIBUTES* Attributes() noexcept { return built_ ? &attributes_ : nullptr; }

 private:
  // The process's own level: a process below it is refused both reading and writing.
  void AddLabel(HANDLE token) {
    level_ = TokenRecord(token, TokenIntegrityLevel);
    if (level_.empty()) return;
    PSID level = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(level_.data())->Label.Sid;
    if (!IsValidSid(level)) return;
    sacl_.resize(sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) + GetLengthSid(level));
    auto* sacl = reinterpret_cast<ACL*>(sacl_.data());
    if (!InitializeAcl(sacl, static_cast<DWORD>(sacl_.size()), ACL_REVISION) || !AddIntegrityLabel(sacl, level))
      return;
    SetSecurityDescriptorSacl(&descriptor_, TRUE, sacl, FALSE);
  }

  TBytes user_, level_, dacl_, sacl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool built_ = false;
};

}  // namespace

SECURITY_ATTRIBUTES* ChannelSecurityAttributes() noexcept {
  try {
    // Never destroyed: channels are still made and reopened while the program finalises.
    static TChannelSecurity* const security = new TChannelSecurity;
    return security->Attributes();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace pelloran::crashlog
