#include "hw/admin_check.h"

#include <cstddef>

#include "protocol/win32_numbers.h"
#include "runtime/port_kind.h"

namespace hw {
namespace {

// What the check acquires, each given back through the port. Declared in the order the check
// acquires them (token, buffer, SID), so that leaving it by any return frees the SID, then the
// buffer, then closes the token.
using TokenKind = zynrt::PortKind<TokenApi, &TokenApi::CloseToken>;
using BufferKind = zynrt::PortKind<TokenApi, &TokenApi::FreeBuffer>;
using SidKind = zynrt::PortKind<TokenApi, &TokenApi::FreeSid>;

// A thread that impersonates is judged by its impersonation token; only a thread without one
// falls back to the process token. Any other failure is an answer in itself.
bool OpenToken(TokenApi& api, zynrt::Owner<TokenKind>& token) {
  if (api.OpenThreadToken(token.receive()))
    return true;
  if (api.LastError() != win32::kErrorNoToken)
    return false;
  return api.OpenProcessToken(token.receive());
}

}  // namespace

int CheckAdministratorMembership(TokenApi& api) {
  zynrt::Owner<TokenKind> token(TokenKind{&api});
  if (!OpenToken(api, token))
    return 0;

  // The size query has no buffer, so the only sound answer is "too small" with the size.
  std::uint32_t size = 0;
  if (api.QueryGroups(token.get(), nullptr, 0, &size) ||
      api.LastError() != win32::kErrorInsufficientBuffer) {
    return 0;
  }
  const zynrt::Owner<BufferKind> buffer(api.AllocateBuffer(size), BufferKind{&api});
  if (!buffer.holds())
    return 0;
  if (!api.QueryGroups(token.get(), buffer.get(), size, &size))
    return 0;

  // S-1-5-32-544: the NT authority, the built-in domain (32), its Administrators alias (544).
  static constexpr std::uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  static constexpr std::uint32_t kBuiltinAdministrators[8] = {32, 544, 0, 0, 0, 0, 0, 0};
  zynrt::Owner<SidKind> administrators(SidKind{&api});
  if (!api.AllocateSid(kNtAuthority, 2, kBuiltinAdministrators, administrators.receive()))
    return 0;

  // The SID alone decides; the entry's attribute flags are deliberately not read. The question
  // is whether the user belongs to the group, not whether this token is elevated right now: a
  // disabled or deny-only Administrators entry still means membership, and the service
  // control manager gives the final word when the driver is installed.
  const auto* bytes = static_cast<const std::uint8_t*>(buffer.get());
  const std::uint32_t count = reinterpret_cast<const TokenGroupList*>(bytes)->group_count;
  const auto* entries =
      reinterpret_cast<const TokenGroupEntry*>(bytes + offsetof(TokenGroupList, groups));
  for (std::uint32_t i = 0; i < count; ++i) {
    if (api.EqualSid(entries[i].sid, administrators.get()))
      return 1;
  }
  return 0;
}

}  // namespace hw
