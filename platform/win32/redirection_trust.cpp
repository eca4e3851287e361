// Turning the redirection-trust mitigation on, where there is one.
#include "redirection_trust.h"

#include <windows.h>

namespace pellatrix::win32 {
namespace {

// From the Windows SDK; older MinGW-w64 headers lack both.
constexpr int kProcessRedirectionTrustPolicy = 16;
struct RedirectionTrustPolicy {
    DWORD flags; // bit 0: EnforceRedirectionTrust, bit 1: AuditRedirectionTrust
};
constexpr DWORD kEnforceRedirectionTrust = 1;

using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(int policy, void* buffer, SIZE_T size);

} // namespace

bool enforceRedirectionTrust() noexcept {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr)
        return false;
    // Cast through a generic function pointer, as GetProcAddress hands back FARPROC.
    const auto setPolicy = reinterpret_cast<SetProcessMitigationPolicyFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
    if (setPolicy == nullptr)
        return false;
    RedirectionTrustPolicy policy{kEnforceRedirectionTrust};
    return setPolicy(kProcessRedirectionTrustPolicy, &policy, sizeof policy) != FALSE;
}

} // namespace pellatrix::win32
