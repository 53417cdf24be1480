// Owners of files on Win32, read with GetSecurityInfo.
#include "platform/win32_owners.h"

#include <cstdlib>
#include <cstring>

#include <aclapi.h>

namespace morvidex {

namespace {

// Owners are compared by a hash of their security identifiers, which
// fits the one number a file's status keeps of its owner.
unsigned long long key_of_sid(PSID sid) {
  const auto *byte = static_cast<const unsigned char *>(sid);
  unsigned long long key = 14695981039346656037ULL;
  for (DWORD i = 0, n = GetLengthSid(sid); i < n; i++)
    key = (key ^ byte[i]) * 1099511628211ULL;
  return key;
}

// The key of the user the program runs as; 0 when it cannot be read.
unsigned long long key_of_running_user() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return 0;
  union {
    TOKEN_USER user;
    unsigned char room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  unsigned long long key = 0;
  if (GetTokenInformation(token, TokenUser, &info, sizeof info, &size))
    key = key_of_sid(info.user.User.Sid);
  CloseHandle(token);
  return key;
}

const unsigned long long RUNNING_USER = key_of_running_user();

// The directory that holds name: what comes before its last separator, or
// the current directory.
HANDLE open_holder(const char *name) {
  const char *last = name;
  for (const char *p = name; *p != '\0'; p++)
    if (*p == '\\' || *p == '/' || *p == ':')
      last = p + 1;
  std::size_t n = static_cast<std::size_t>(last - name);
  auto *holder = static_cast<char *>(std::malloc(n + 2));
  if (holder == nullptr)
    return INVALID_HANDLE_VALUE;
  std::memcpy(holder, name, n);
  holder[n] = '.';
  holder[n + 1] = '\0';
  HANDLE dir = CreateFileA(holder, READ_CONTROL, SHARE_ALL, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::free(holder);
  return dir;
}

} // namespace

bool read_owner(HANDLE h, unsigned long long *key, bool *trusted) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                      nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool known = owner != nullptr && IsValidSid(owner);
  if (known) {
    *key = key_of_sid(owner);
    *trusted = *key == RUNNING_USER ||
               IsWellKnownSid(owner, WinLocalSystemSid) ||
               IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  }
  LocalFree(descriptor);
  return known;
}

bool may_follow(const char *name, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return true;
  HANDLE link = CreateFileA(
      name, READ_CONTROL | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
      nullptr);
  if (link == INVALID_HANDLE_VALUE)
    return false;
  unsigned long long key = 0;
  bool trusted = false;
  bool known = read_owner(link, &key, &trusted);
  CloseHandle(link);
  return known && trusted;
}

link_kind link_kind_of(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return NOT_A_LINK;
  unsigned long long key = 0;
  bool trusted = false;
  return read_owner(h, &key, &trusted) && trusted ? TRUSTED_LINK
                                                  : UNTRUSTED_LINK;
}

int judge_target(const char *name, HANDLE h, DWORD links,
                 const file_status *source) {
  unsigned long long key = 0;
  bool trusted = false;
  if (!read_owner(h, &key, &trusted))
    return 0;
  if (links > 1) {
    HANDLE dir = open_holder(name);
    unsigned long long dir_key = 0;
    bool known =
        dir != INVALID_HANDLE_VALUE && read_owner(dir, &dir_key, &trusted);
    if (dir != INVALID_HANDLE_VALUE)
      CloseHandle(dir);
    if (key != RUNNING_USER || (known && dir_key != RUNNING_USER))
      return ERROR_ACCESS_DENIED;
  }
  if (key != RUNNING_USER && (source == nullptr || key != source->owner))
    return ERROR_ACCESS_DENIED;
  return 0;
}

} // namespace morvidex
