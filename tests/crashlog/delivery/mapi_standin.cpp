// A mail client's Simple MAPI library for the tests: it records every call to the file named by
// PELLORAN_MAPI_RECORD (texts as hex), keeps a copy of every attached file in the folder named by
// PELLORAN_MAPI_KEEP (as a client reads them while it holds the message), and fails where
// PELLORAN_MAPI_FAIL says ("logon", "send").

#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Hex(const void* data, std::size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}
std::string Hex(const char* text) { return text ? Hex(text, std::strlen(text)) : "-"; }

void Record(const std::string& line) {
  char path[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("PELLORAN_MAPI_RECORD", path, sizeof path)) return;
  if (FILE* file = std::fopen(path, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

bool Fails(const char* step) {
  char what[64] = {};
  return GetEnvironmentVariableA("PELLORAN_MAPI_FAIL", what, sizeof what) && std::strcmp(what, step) == 0;
}

void Keep(const char* path, const char* name) {
  char folder[MAX_PATH] = {};
  if (!path || !name || !GetEnvironmentVariableA("PELLORAN_MAPI_KEEP", folder, sizeof folder)) return;
  CopyFileA(path, (std::string(folder) + "\\" + name).c_str(), FALSE);
}

struct Resolved {
  MapiRecipDesc Desc;
  char Name[300];
  char Address[300];
  char Id[300];
};

}  // namespace

extern "C" {

ULONG WINAPI MAPILogon(ULONG_PTR window, LPSTR profile, LPSTR password, FLAGS flags, ULONG, LPLHANDLE session) {
  Record("logon window=" + std::to_string(window) + " profile=" + Hex(profile) + " password=" + Hex(password) +
         " flags=" + std::to_string(flags));
  if (Fails("logon")) return MAPI_E_LOGIN_FAILURE;
  *session = 0x5E55;
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  Record("logoff session=" + std::to_string(session));
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIResolveName(LHANDLE session, ULONG_PTR, LPSTR name, FLAGS flags, ULONG, lpMapiRecipDesc* recip) {
  Record("resolve session=" + std::to_string(session) + " name=" + Hex(name) + " flags=" + std::to_string(flags));
  if (!name || !*name || std::strstr(name, "unknown")) return MAPI_E_UNKNOWN_RECIPIENT;
  auto* resolved = static_cast<Resolved*>(std::calloc(1, sizeof(Resolved)));
  std::snprintf(resolved->Name, sizeof resolved->Name, "Resolved %s", name);
  std::snprintf(resolved->Address, sizeof resolved->Address, "SMTP:%s", name);
  std::snprintf(resolved->Id, sizeof resolved->Id, "EID:%s", name);
  resolved->Desc.ulRecipClass = MAPI_TO;
  resolved->Desc.lpszName = resolved->Name;
  // A name without a domain has no address: the caller then uses the display name.
  resolved->Desc.lpszAddress = std::strchr(name, '@') ? resolved->Address : nullptr;
  resolved->Desc.ulEIDSize = static_cast<ULONG>(std::strlen(resolved->Id));
  resolved->Desc.lpEntryID = resolved->Id;
  *recip = &resolved->Desc;
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
  Record("free");
  std::memset(buffer, 0xDD, sizeof(Resolved));  // a caller that kept pointers would read garbage
  std::free(buffer);
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR window, lpMapiMessage message, FLAGS flags, ULONG) {
  Record("send session=" + std::to_string(session) + " window=" + std::to_string(window) + " flags=" +
         std::to_string(flags) + " subject=" + Hex(message->lpszSubject) + " note=" + Hex(message->lpszNoteText) +
         " recips=" + std::to_string(message->nRecipCount) + " files=" + std::to_string(message->nFileCount) +
         " lpFiles=" + (message->lpFiles ? "set" : "null"));
  for (ULONG i = 0; i < message->nRecipCount; ++i) {
    const MapiRecipDesc& r = message->lpRecips[i];
    Record("recip class=" + std::to_string(r.ulRecipClass) + " name=" + Hex(r.lpszName) + " address=" +
           Hex(r.lpszAddress) + " eid=" + Hex(r.lpEntryID, r.ulEIDSize));
  }
  for (ULONG i = 0; i < message->nFileCount; ++i) {
    const MapiFileDesc& f = message->lpFiles[i];
    // The file must exist while the client holds the message.
    const bool exists = GetFileAttributesA(f.lpszPathName) != INVALID_FILE_ATTRIBUTES;
    Record("file reserved=" + std::to_string(f.ulReserved) + " flags=" + std::to_string(f.flFlags) +
           " position=" + std::to_string(f.nPosition) + " path=" + Hex(f.lpszPathName) + " name=" +
           Hex(f.lpszFileName) + " type=" + (f.lpFileType ? "set" : "null") + " exists=" + (exists ? "1" : "0"));
    Keep(f.lpszPathName, f.lpszFileName);
  }
  if (Fails("send")) return MAPI_E_FAILURE;
  return SUCCESS_SUCCESS;
}

}  // extern "C"
