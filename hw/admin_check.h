// The administrator check: does the user who runs the program belong to the local
// Administrators group? Portable decision logic over a thin port onto the token calls; the
// Windows program implements the port with the real calls (hw/win32/device_channel.h).
#pragma once

#include <cstdint>

namespace hw {

using TokenHandle = void*;
using SidHandle = void*;

// One entry of a token's group list, laid out as the platform's SID_AND_ATTRIBUTES.
struct TokenGroupEntry {
  const void* sid;
  std::uint32_t attributes;
};

// The platform's TOKEN_GROUPS: a group count, then that many entries (the array is as long as
// the count says; one is declared so that the layout is the platform's).
struct TokenGroupList {
  std::uint32_t group_count;
  TokenGroupEntry groups[1];
};

// Each member is one platform call. Failures are false or null; the error code of the latest
// failed call is then LastError().
class TokenApi {
 public:
  virtual ~TokenApi() = default;
  // OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, OpenAsSelf false).
  virtual bool OpenThreadToken(TokenHandle* token) = 0;
  // OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY).
  virtual bool OpenProcessToken(TokenHandle* token) = 0;
  virtual std::uint32_t LastError() = 0;
  // GetTokenInformation(token, TokenGroups, buffer, size, returned).
  virtual bool QueryGroups(TokenHandle token, void* buffer, std::uint32_t size,
                           std::uint32_t* returned) = 0;
  // The program's ordinary heap; null when the allocation fails.
  virtual void* AllocateBuffer(std::uint32_t size) = 0;
  virtual void FreeBuffer(void* buffer) = 0;
  // AllocateAndInitializeSid(authority, count, sub-authorities 0 to 7, sid).
  virtual bool AllocateSid(const std::uint8_t (&authority)[6], std::uint8_t count,
                           const std::uint32_t (&sub_authorities)[8], SidHandle* sid) = 0;
  virtual void FreeSid(SidHandle sid) = 0;
  virtual bool EqualSid(const void* first, SidHandle second) = 0;
  virtual void CloseToken(TokenHandle token) = 0;
};

// 1 when one of the token's groups is the Administrators SID (S-1-5-32-544); 0 when none is or
// any step failed.
int CheckAdministratorMembership(TokenApi& api);

}  // namespace hw
