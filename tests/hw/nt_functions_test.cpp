// The NT functions looked up at run time: what is looked up and when, and that a function the
// system does not have fails its call with the exit the caller already has for that call.
#include "hw/nt_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/hw/fake_service_api.h"
#include "hw/admin_check.h"
#include "hw/driver_service.h"
#include "protocol/win32_numbers.h"

namespace {

using Names = std::vector<std::string>;

class FakeBinder : public hw::FunctionBinder {
 public:
  std::set<std::string> missing;
  Names looked_up;

  void* Find(const char* name) override {
    looked_up.push_back(name);
    return missing.count(name) != 0 ? nullptr : &address_;
  }
  void* address() { return &address_; }

 private:
  int address_ = 0;
};

TEST(NtFunctions, WholeTableLookedUpOnceWhenFirstNeeded) {
  FakeBinder binder;
  binder.missing = {"EqualSid", "CloseServiceHandle"};
  hw::NtFunctions functions(binder);
  EXPECT_TRUE(binder.looked_up.empty()) << "nothing is looked up before it is needed";

  EXPECT_EQ(functions.Address(hw::NtFunction::kStartServiceA), binder.address());
  EXPECT_EQ(binder.looked_up,
            (Names{"AllocateAndInitializeSid", "EqualSid", "FreeSid", "GetTokenInformation",
                   "OpenProcessToken", "OpenThreadToken", "OpenSCManagerA", "CreateServiceA",
                   "OpenServiceA", "StartServiceA", "ControlService", "DeleteService",
                   "CloseServiceHandle"}));
  EXPECT_EQ(functions.Address(hw::NtFunction::kEqualSid), nullptr);
  EXPECT_EQ(functions.Address(hw::NtFunction::kCloseServiceHandle), nullptr);
  EXPECT_EQ(functions.Address(hw::NtFunction::kFreeSid), binder.address());
  EXPECT_EQ(binder.looked_up.size(), 13u) << "looked up once, not on every call";
}

// A token that holds the Administrators group; the one call named `unbound` fails as the
// forwarding layer fails a call whose function could not be bound.
class UnboundTokenApi : public hw::TokenApi {
 public:
  std::string unbound;
  int held = 0;  // tokens, buffers and SIDs not given back

  bool OpenThreadToken(hw::TokenHandle*) override {
    return !Unbound("OpenThreadToken") && Fail(win32::kErrorNoToken);  // not impersonating
  }
  bool OpenProcessToken(hw::TokenHandle* token) override {
    return !Unbound("OpenProcessToken") && Hand(&token_, token);
  }
  std::uint32_t LastError() override { return error_; }
  bool QueryGroups(hw::TokenHandle, void* buffer, std::uint32_t size,
                   std::uint32_t* returned) override {
    if (Unbound("GetTokenInformation"))
      return false;
    *returned = sizeof groups_;
    if (buffer == nullptr || size < sizeof groups_)
      return Fail(win32::kErrorInsufficientBuffer);
    std::memcpy(buffer, &groups_, sizeof groups_);
    return true;
  }
  void* AllocateBuffer(std::uint32_t size) override {
    ++held;
    storage_.assign(size, 0);
    return storage_.data();
  }
  void FreeBuffer(void*) override { --held; }
  bool AllocateSid(const std::uint8_t (&)[6], std::uint8_t, const std::uint32_t (&)[8],
                   hw::SidHandle* sid) override {
    return !Unbound("AllocateAndInitializeSid") && Hand(&administrators_, sid);
  }
  void FreeSid(hw::SidHandle) override { --held; }
  bool EqualSid(const void* first, hw::SidHandle second) override {
    return !Unbound("EqualSid") && first == second;
  }
  void CloseToken(hw::TokenHandle) override { --held; }

 private:
  bool Unbound(const char* name) {
    if (unbound != name)
      return false;
    error_ = win32::kErrorProcNotFound;
    return true;
  }
  bool Fail(std::uint32_t error) {
    error_ = error;
    return false;
  }
  bool Hand(int* object, void** out) {
    ++held;
    *out = object;
    return true;
  }

  std::uint32_t error_ = 0;
  int token_ = 0, administrators_ = 0;
  hw::TokenGroupList groups_ = {1, {{&administrators_, 0}}};
  std::vector<std::uint8_t> storage_;
};

TEST(UnboundFunction, SecurityCallFailsAndTheCheckAnswersZero) {
  for (const char* name : {"", "OpenThreadToken", "OpenProcessToken", "GetTokenInformation",
                           "AllocateAndInitializeSid", "EqualSid"}) {
    SCOPED_TRACE(name);
    UnboundTokenApi api;
    api.unbound = name;
    EXPECT_EQ(hw::CheckAdministratorMembership(api), *name == '\0' ? 1 : 0);
    EXPECT_EQ(api.held, 0);
  }
}

// Each service function that cannot be bound, on the step that calls it: the service steps
// fail as they fail for any other error of that call.
TEST(UnboundFunction, ServiceCallFailsAsAnyOtherErrorOfIt) {
  struct Row {
    const char* function;
    const char* fake_call;  // the fake's name for the call
    bool removing;          // RemoveDriverService after a run, rather than OpenDriverChannel
    ServiceState before;
    int result;  // of OpenDriverChannel
    const char* trace;
    ServiceState after;
  };
  using S = ServiceState;
  const Row rows[] = {
      {"OpenSCManagerA", "OpenServiceManager", false, S::kNotRegistered, 0,
       "Open SC Manager failed! Error = 127 \n", S::kNotRegistered},
      {"CreateServiceA", "RegisterService", false, S::kNotRegistered, 1,
       "CreateService failed!  Error = 127 \n", S::kNotRegistered},
      {"OpenServiceA", "OpenNamedService", false, S::kStopped, 1,
       "OpenService failed!  Error = 127 \n", S::kStopped},
      {"StartServiceA", "Start", false, S::kNotRegistered, 1,
       "StartService failure! Error = 127 \n", S::kStopped},
      {"OpenSCManagerA", "OpenServiceManager", true, S::kRunning, 0,
       "Open SC Manager failed! Error = 127 \n", S::kRunning},
      {"OpenServiceA", "OpenNamedService", true, S::kRunning, 0,
       "OpenService failed!  Error = 127 \n", S::kRunning},
      {"ControlService", "Stop", true, S::kRunning, 0, "ControlService failed!  Error = 127 \n",
       S::kRunning},
      {"DeleteService", "Delete", true, S::kRunning, 0, "DeleteService failed!  Error = 127 \n",
       S::kStopped},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.function) + (row.removing ? " removing" : " opening"));
    FakeServiceApi api;
    api.state = row.before;
    if (row.before != S::kNotRegistered)
      api.registered_image = "C:\\ZYN\\ZYNDRV.sys";
    zynrt::Owner<hw::DeviceKind> channel(hw::DeviceKind{&api});
    if (row.removing) {
      ASSERT_EQ(hw::OpenDriverChannel(api, *channel.receive(), "zynid"), 1);
      api.failures[row.fake_call] = {win32::kErrorProcNotFound};
      hw::RemoveDriverService(api, channel);
    } else {
      api.failures[row.fake_call] = {win32::kErrorProcNotFound};
      EXPECT_EQ(hw::OpenDriverChannel(api, *channel.receive(), "zynid"), row.result);
      EXPECT_EQ(channel.get(), hw::InvalidDeviceHandle());
      EXPECT_EQ(api.ReachedServiceManager(), row.result == 1);
    }
    EXPECT_NE(std::find(api.traces.begin(), api.traces.end(), row.trace), api.traces.end());
    EXPECT_EQ(api.state, row.after);
    EXPECT_TRUE(api.open_service_handles.empty());
    for (const std::string& call : api.calls)
      EXPECT_EQ(call.find("AskUser"), std::string::npos) << "no prompt: only not-ready asks";
  }
}

}  // namespace
