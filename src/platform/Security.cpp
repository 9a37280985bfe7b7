#include "platform/Security.h"

#include <memory>

#include "platform/Seam.h"
#include "platform/UniqueHandle.h"

namespace platform {

namespace {

struct SidDeleter {
    void operator()(PSID sid) const { ::FreeSid(sid); }
};

}  // namespace

bool IsUserAdministrator() {
    switch (Seam().administrators) {
    case TestSeam::Membership::Member: return true;
    case TestSeam::Membership::NotMember: return false;
    case TestSeam::Membership::Real: break;
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid)) {
        return false;
    }
    const std::unique_ptr<void, SidDeleter> owner(sid);
    BOOL member = FALSE;
    return ::CheckTokenMembership(nullptr, sid, &member) && member;
}

bool RequestRestart(UINT flags, DWORD reason) {
    HANDLE rawToken = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                           &rawToken)) {
        UniqueHandle token(rawToken);
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
            ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    if (Seam().restartRequested != nullptr) {
        if (Seam().restartRequested(flags, reason)) return true;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return ::ExitWindowsEx(flags, reason) != FALSE;
}

}  // namespace platform
