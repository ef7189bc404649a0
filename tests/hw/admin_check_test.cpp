// The administrator check against a fake token: which token is judged, the failures that give
// 0, the group walk, and that the SID, the buffer and the token are released in order on every
// path.
#include "hw/admin_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/win32_numbers.h"

namespace {

// A SID as the fake knows it: its text form.
struct FakeSid {
  std::string text;
};

const FakeSid kAdministrators{"S-1-5-32-544"};
const FakeSid kUsers{"S-1-5-32-545"};
const FakeSid kEveryone{"S-1-1-0"};
const FakeSid kAdminsElsewhere{"S-1-5-21-1-2-3-544"};

constexpr std::uint32_t kEnabled = 0x4;
constexpr std::uint32_t kDenyOnly = 0x10;

class FakeTokenApi : public hw::TokenApi {
 public:
  // Answers. The defaults: no impersonation, a process token holding Administrators.
  std::uint32_t thread_token_error = win32::kErrorNoToken;  // 0: the thread token opens
  std::uint32_t process_token_error = 0;
  bool size_query_succeeds = false;
  std::uint32_t size_query_error = win32::kErrorInsufficientBuffer;
  std::uint32_t second_query_error = 0;
  bool allocation_fails = false;
  bool sid_allocation_fails = false;
  bool compare_throws = false;
  struct Group {
    const FakeSid* sid;
    std::uint32_t attributes;
  };
  std::vector<Group> groups = {{&kEveryone, kEnabled}, {&kAdministrators, kEnabled}};

  // What happened.
  std::vector<std::string> calls;
  std::uint32_t allocated_size = 0;
  std::vector<const void*> compared;
  int open_tokens = 0, open_buffers = 0, open_sids = 0;

  bool OpenThreadToken(hw::TokenHandle* token) override {
    calls.push_back("OpenThreadToken");
    return Open(thread_token_error, thread_token_, token);
  }
  bool OpenProcessToken(hw::TokenHandle* token) override {
    calls.push_back("OpenProcessToken");
    return Open(process_token_error, process_token_, token);
  }
  std::uint32_t LastError() override { return last_error_; }

  bool QueryGroups(hw::TokenHandle token, void* buffer, std::uint32_t size,
                   std::uint32_t* returned) override {
    EXPECT_TRUE(token == &thread_token_ || token == &process_token_);
    // The platform would write the groups through a null buffer given a size.
    EXPECT_TRUE(buffer != nullptr || size == 0) << "a size of " << size << " without a buffer";
    judged = token == &thread_token_ ? "thread" : "process";
    const std::uint32_t needed = NeededSize();
    if (buffer == nullptr) {
      calls.push_back("QueryGroups size " + std::to_string(size));
      *returned = needed;
      return size_query_succeeds || Fail(size_query_error);
    }
    calls.push_back("QueryGroups " + std::to_string(size));
    if (second_query_error != 0)
      return Fail(second_query_error);
    if (size < needed)
      return Fail(win32::kErrorInsufficientBuffer);
    auto* list = static_cast<hw::TokenGroupList*>(buffer);
    list->group_count = static_cast<std::uint32_t>(groups.size());
    auto* entries = reinterpret_cast<hw::TokenGroupEntry*>(static_cast<std::uint8_t*>(buffer) +
                                                           offsetof(hw::TokenGroupList, groups));
    for (size_t i = 0; i < groups.size(); ++i)
      entries[i] = {groups[i].sid, groups[i].attributes};
    *returned = needed;
    return true;
  }

  void* AllocateBuffer(std::uint32_t size) override {
    calls.push_back("AllocateBuffer " + std::to_string(size));
    allocated_size = size;
    if (allocation_fails)
      return nullptr;
    ++open_buffers;
    storage_.assign(size, 0xCD);
    return storage_.data();
  }
  void FreeBuffer(void* buffer) override {
    EXPECT_EQ(buffer, storage_.data());
    calls.push_back("FreeBuffer");
    --open_buffers;
  }

  bool AllocateSid(const std::uint8_t (&authority)[6], std::uint8_t count,
                   const std::uint32_t (&sub)[8], hw::SidHandle* sid) override {
    std::string text = "S-1-" + std::to_string(authority[5]);
    for (int i = 0; i < count; ++i)
      text += "-" + std::to_string(sub[i]);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(authority[i], 0);
    for (int i = count; i < 8; ++i)
      EXPECT_EQ(sub[i], 0u);
    calls.push_back("AllocateSid " + text);
    if (sid_allocation_fails)
      return false;
    ++open_sids;
    built_.text = text;
    *sid = &built_;
    return true;
  }
  void FreeSid(hw::SidHandle sid) override {
    EXPECT_EQ(sid, &built_);
    calls.push_back("FreeSid");
    --open_sids;
  }

  bool EqualSid(const void* first, hw::SidHandle second) override {
    EXPECT_EQ(second, &built_) << "the entry's SID comes first";
    if (compare_throws)
      throw std::runtime_error("fault in the comparison");
    compared.push_back(first);
    return static_cast<const FakeSid*>(first)->text == static_cast<FakeSid*>(second)->text;
  }

  void CloseToken(hw::TokenHandle token) override {
    EXPECT_TRUE(token == &thread_token_ || token == &process_token_);
    calls.push_back("CloseToken");
    --open_tokens;
  }

  std::string judged;

 private:
  bool Open(std::uint32_t error, int& token_object, hw::TokenHandle* token) {
    if (error != 0)
      return Fail(error);
    ++open_tokens;
    *token = &token_object;
    return true;
  }
  bool Fail(std::uint32_t error) {
    last_error_ = error;
    return false;
  }
  std::uint32_t NeededSize() const {
    return static_cast<std::uint32_t>(offsetof(hw::TokenGroupList, groups) +
                                      groups.size() * sizeof(hw::TokenGroupEntry));
  }

  std::uint32_t last_error_ = 0;
  int thread_token_ = 0, process_token_ = 0;
  std::vector<std::uint8_t> storage_;
  FakeSid built_;
};

void ExpectNothingLeft(const FakeTokenApi& api) {
  EXPECT_EQ(api.open_tokens, 0);
  EXPECT_EQ(api.open_buffers, 0);
  EXPECT_EQ(api.open_sids, 0);
}

using Calls = std::vector<std::string>;

TEST(AdministratorCheck, ProcessTokenJudgedWhenTheThreadHasNone) {
  FakeTokenApi api;
  EXPECT_EQ(hw::CheckAdministratorMembership(api), 1);
  EXPECT_EQ(api.judged, "process");
  const std::string size = std::to_string(api.allocated_size);
  EXPECT_EQ(api.calls, (Calls{"OpenThreadToken", "OpenProcessToken", "QueryGroups size 0",
                              "AllocateBuffer " + size, "QueryGroups " + size,
                              "AllocateSid S-1-5-32-544", "FreeSid", "FreeBuffer", "CloseToken"}));
  ExpectNothingLeft(api);
}

TEST(AdministratorCheck, ImpersonatingThreadJudgedByItsOwnToken) {
  FakeTokenApi api;
  api.thread_token_error = 0;
  api.groups = {{&kUsers, kEnabled}};
  EXPECT_EQ(hw::CheckAdministratorMembership(api), 0);
  EXPECT_EQ(api.judged, "thread");
  EXPECT_EQ(api.calls.at(1), "QueryGroups size 0") << "the process token is not tried";
  ExpectNothingLeft(api);
}

// Every failing step: the result is 0, the check stops there, and whatever was acquired is
// released in order.
TEST(AdministratorCheck, EveryFailureGivesZeroAndReleasesWhatWasTaken) {
  struct Row {
    const char* name;
    void (*fail)(FakeTokenApi&);
    std::vector<std::string> last_calls;  // the end of the call list
  };
  const Row rows[] = {
      {"thread token: access denied",
       [](FakeTokenApi& a) { a.thread_token_error = 5; },
       {"OpenThreadToken"}},
      {"thread token: bad handle, process token not tried",
       [](FakeTokenApi& a) { a.thread_token_error = 6; },
       {"OpenThreadToken"}},
      {"process token",
       [](FakeTokenApi& a) { a.process_token_error = 5; },
       {"OpenThreadToken", "OpenProcessToken"}},
      {"size query succeeds",
       [](FakeTokenApi& a) { a.size_query_succeeds = true; },
       {"QueryGroups size 0", "CloseToken"}},
      {"size query fails with another error",
       [](FakeTokenApi& a) { a.size_query_error = 87; },
       {"QueryGroups size 0", "CloseToken"}},
      {"buffer allocation", [](FakeTokenApi& a) { a.allocation_fails = true; }, {"CloseToken"}},
      {"second query",
       [](FakeTokenApi& a) { a.second_query_error = 5; },
       {"FreeBuffer", "CloseToken"}},
      {"SID allocation",
       [](FakeTokenApi& a) { a.sid_allocation_fails = true; },
       {"AllocateSid S-1-5-32-544", "FreeBuffer", "CloseToken"}},
      {"no Administrators entry",
       [](FakeTokenApi& a) {
         a.groups = {{&kEveryone, kEnabled}, {&kAdminsElsewhere, kEnabled}};
       },
       {"FreeSid", "FreeBuffer", "CloseToken"}},
      {"empty group list",
       [](FakeTokenApi& a) { a.groups.clear(); },
       {"FreeSid", "FreeBuffer", "CloseToken"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeTokenApi api;
    row.fail(api);
    EXPECT_EQ(hw::CheckAdministratorMembership(api), 0);
    ASSERT_GE(api.calls.size(), row.last_calls.size());
    EXPECT_EQ(Calls(api.calls.end() - row.last_calls.size(), api.calls.end()), row.last_calls);
    ExpectNothingLeft(api);
  }
}

TEST(AdministratorCheck, BufferIsExactlyTheReportedSize) {
  FakeTokenApi api;
  api.groups.assign(7, {&kUsers, kEnabled});
  api.groups.push_back({&kAdministrators, kEnabled});
  EXPECT_EQ(hw::CheckAdministratorMembership(api), 1);
  EXPECT_EQ(api.allocated_size,
            offsetof(hw::TokenGroupList, groups) + 8 * sizeof(hw::TokenGroupEntry));
}

// Membership, not the token's present state, decides: the attribute flags are not read.
TEST(AdministratorCheck, DisabledOrDenyOnlyAdministratorsEntryCounts) {
  for (std::uint32_t attributes : {0u, kDenyOnly, kEnabled, 0xFFFFFFFFu}) {
    SCOPED_TRACE(attributes);
    FakeTokenApi api;
    api.groups = {{&kUsers, kEnabled}, {&kAdministrators, attributes}};
    EXPECT_EQ(hw::CheckAdministratorMembership(api), 1);
  }
}

TEST(AdministratorCheck, EveryEntryIsComparedUpToTheFirstMatch) {
  FakeTokenApi api;
  api.groups = {{&kEveryone, kEnabled},
                {&kUsers, kEnabled},
                {&kAdminsElsewhere, kEnabled},
                {&kAdministrators, kDenyOnly}};
  EXPECT_EQ(hw::CheckAdministratorMembership(api), 1);
  EXPECT_EQ(api.compared,
            (std::vector<const void*>{&kEveryone, &kUsers, &kAdminsElsewhere, &kAdministrators}));

  FakeTokenApi first;
  first.groups = {{&kAdministrators, kEnabled}, {&kUsers, kEnabled}};
  EXPECT_EQ(hw::CheckAdministratorMembership(first), 1);
  EXPECT_EQ(first.compared.size(), 1u) << "the walk stops at the first match";
}

TEST(AdministratorCheck, ReleasedInOrderWhenAnExceptionPassesThrough) {
  FakeTokenApi api;
  api.compare_throws = true;
  EXPECT_THROW(hw::CheckAdministratorMembership(api), std::runtime_error);
  EXPECT_EQ(Calls(api.calls.end() - 3, api.calls.end()),
            (Calls{"FreeSid", "FreeBuffer", "CloseToken"}));
  ExpectNothingLeft(api);
}

}  // namespace
