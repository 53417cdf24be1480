// Owners of files on Win32, for the rules that keep a run inside the tree
// it was asked to convert: which links may be followed, and which existing
// targets may be written.  For the Win32 platform layer alone.
#ifndef MORVIDEX_PLATFORM_WIN32_OWNERS_H
#define MORVIDEX_PLATFORM_WIN32_OWNERS_H

#include "platform/platform.h"

#include <windows.h>

namespace morvidex {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The owner of what h leads to (opened with READ_CONTROL): its key, and
// whether it is trusted as the running user, the system or the
// administrators are.  False when the system keeps no owner for it.
bool read_owner(HANDLE h, unsigned long long *key, bool *trusted);

// Whether name, of these attributes, may be followed: a reparse point (a
// symbolic link, a junction) only when it belongs to a trusted owner.
bool may_follow(const char *name, DWORD attributes);

// What the existing file open as h is, when it may be a reparse point
// opened itself (with READ_CONTROL).
enum link_kind { NOT_A_LINK, TRUSTED_LINK, UNTRUSTED_LINK };
link_kind link_kind_of(HANDLE h);

// Whether the existing target name, open as h with links names, may be
// written: one with several names only when it and its directory belong
// to the running user, and a disk file only when it belongs to the
// running user or to source's owner.  A volume that keeps no owners
// allows what its permissions allow.  0 or ERROR_ACCESS_DENIED.
int judge_target(const char *name, HANDLE h, DWORD links,
                 const file_status *source);

} // namespace morvidex

#endif
