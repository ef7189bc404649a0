#include "hw/admin_check.h"

#include <cstddef>

#include "hw/win32_numbers.h"

namespace hw {
namespace {

// Scope-bound owners: declared in the order the check acquires token, buffer and SID, so that
// leaving the check by any path (an exception included) frees the SID, then the buffer, then
// closes the token.
class TokenOwner {
 public:
  explicit TokenOwner(TokenApi& api) : api_(api) {}
  ~TokenOwner() {
    if (token_ != nullptr)
      api_.CloseToken(token_);
  }
  TokenOwner(const TokenOwner&) = delete;
  TokenOwner& operator=(const TokenOwner&) = delete;
  TokenHandle* out() { return &token_; }
  TokenHandle get() const { return token_; }

 private:
  TokenApi& api_;
  TokenHandle token_ = nullptr;
};

class BufferOwner {
 public:
  BufferOwner(TokenApi& api, void* buffer) : api_(api), buffer_(buffer) {}
  ~BufferOwner() {
    if (buffer_ != nullptr)
      api_.FreeBuffer(buffer_);
  }
  BufferOwner(const BufferOwner&) = delete;
  BufferOwner& operator=(const BufferOwner&) = delete;
  void* get() const { return buffer_; }

 private:
  TokenApi& api_;
  void* buffer_;
};

class SidOwner {
 public:
  explicit SidOwner(TokenApi& api) : api_(api) {}
  ~SidOwner() {
    if (sid_ != nullptr)
      api_.FreeSid(sid_);
  }
  SidOwner(const SidOwner&) = delete;
  SidOwner& operator=(const SidOwner&) = delete;
  SidHandle* out() { return &sid_; }
  SidHandle get() const { return sid_; }

 private:
  TokenApi& api_;
  SidHandle sid_ = nullptr;
};

// A thread that impersonates is judged by its impersonation token; only a thread without one
// falls back to the process token. Any other failure is an answer in itself.
bool OpenToken(TokenApi& api, TokenOwner& token) {
  if (api.OpenThreadToken(token.out()))
    return true;
  if (api.LastError() != win32::kErrorNoToken)
    return false;
  return api.OpenProcessToken(token.out());
}

}  // namespace

int CheckAdministratorMembership(TokenApi& api) {
  TokenOwner token(api);
  if (!OpenToken(api, token))
    return 0;

  // The size query has no buffer, so the only sound answer is "too small" with the size.
  std::uint32_t size = 0;
  if (api.QueryGroups(token.get(), nullptr, 0, &size) ||
      api.LastError() != win32::kErrorInsufficientBuffer) {
    return 0;
  }
  BufferOwner buffer(api, api.AllocateBuffer(size));
  if (buffer.get() == nullptr)
    return 0;
  if (!api.QueryGroups(token.get(), buffer.get(), size, &size))
    return 0;

  // S-1-5-32-544: the NT authority, the built-in domain (32), its Administrators alias (544).
  static constexpr std::uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  static constexpr std::uint32_t kBuiltinAdministrators[8] = {32, 544, 0, 0, 0, 0, 0, 0};
  SidOwner administrators(api);
  if (!api.AllocateSid(kNtAuthority, 2, kBuiltinAdministrators, administrators.out()))
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
