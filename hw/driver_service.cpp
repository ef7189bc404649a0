#include "hw/driver_service.h"

#include <memory>
#include <new>

#include "hw/device_io.h"
#include "protocol/device_protocol.h"

namespace {
bool TokenHoldsSid(HANDLE token, PSID sid) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size == 0)
    return false;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
  if (buffer == nullptr || !GetTokenInformation(token, TokenGroups, buffer.get(), size, &size)) {
    return false;
  }
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (EqualSid(groups->Groups[i].Sid, sid))
      return true;
  }
  return false;
}
}  // namespace

int CheckAdministratorMembership() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return 0;
  }
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  int result = 0;
  if (AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    result = TokenHoldsSid(token, administrators) ? 1 : 0;
    FreeSid(administrators);
  }
  CloseHandle(token);
  return result;
}

int OpenDriverChannel(HANDLE& channel) {
  channel = OpenDeviceFile(kNtDevicePath, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL);
  return 1;
}

void RemoveDriverService(HANDLE& channel) {
  if (channel != nullptr && channel != INVALID_HANDLE_VALUE)
    CloseHandle(channel);
}
