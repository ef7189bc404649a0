// The driver service against a model of the service control manager: the three states the
// service can be found in, every failure of opening the channel and of removing the service,
// the error codes that steer, the trace texts, and the order handles are closed in.
#include "hw/driver_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/hw/fake_service_api.h"

namespace {

using Calls = std::vector<std::string>;
constexpr char kCaption[] = "zynid";
const std::string kImage = "C:\\ZYN\\ZYNDRV.sys";
const std::string kOpenDevice = "OpenFile \\\\.\\ZYNDRV rw";
const std::string kRegister = "RegisterService ZYNDRV ZYNDRV 0xF01FF 1 3 1 C:\\ZYN\\ZYNDRV.sys";

struct Outcome {
  int result;
  hw::DeviceHandle channel;
};

Outcome Open(FakeServiceApi& api) {
  hw::DeviceHandle channel = nullptr;
  const int result = hw::OpenDriverChannel(api, channel, kCaption);
  return {result, channel};
}

bool Valid(hw::DeviceHandle channel) {
  return channel != hw::InvalidDeviceHandle() && channel != nullptr;
}

size_t Count(const Calls& calls, const std::string& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

// Whatever happened, the rules every run keeps: a 0 never follows an opened service control
// manager (so a 0 leaves the service database untouched); every handle it opened is closed, the
// service's before the manager's, and both before the device is opened again; the image check is
// closed at once.
void ExpectRunRules(const FakeServiceApi& api, const Outcome& run) {
  if (run.result == 0) {
    EXPECT_FALSE(api.ReachedServiceManager());
  }
  EXPECT_TRUE(api.open_service_handles.empty());
  EXPECT_EQ(api.open_files, Valid(run.channel) ? 1 : 0);
  const Calls& c = api.calls;
  const auto manager_closed = std::find(c.begin(), c.end(), "CloseServiceHandle manager");
  const auto service_closed = std::find(c.begin(), c.end(), "CloseServiceHandle service");
  if (service_closed != c.end()) {
    EXPECT_LT(service_closed, manager_closed);
  }
  if (manager_closed != c.end()) {
    EXPECT_EQ(c.back(), kOpenDevice) << "the device is opened again after both handles closed";
  }
  for (const std::string& path : api.opened_paths) {
    EXPECT_LT(path.size(), win32::kMaxPath);
  }
}

// What the service looks like before OpenDriverChannel, and what it does: each ends running,
// with the device open.
TEST(OpenDriverChannelStates, EveryStartingStateEndsRunning) {
  const Calls after_image_check = {
      kOpenDevice,       "CurrentDirectory 260", "OpenFile C:\\ZYN\\ZYNDRV.sys r",
      "CloseFile image", "OpenServiceManager",   kRegister};
  struct Row {
    const char* name;
    ServiceState before;
    Calls calls;
  };
  Calls stopped = after_image_check;
  stopped.insert(stopped.end(),
                 {"OpenNamedService ZYNDRV 0xF01FF", "Start", "CloseServiceHandle service",
                  "CloseServiceHandle manager", kOpenDevice});
  Calls not_registered = after_image_check;
  not_registered.insert(not_registered.end(), {"Start", "CloseServiceHandle service",
                                               "CloseServiceHandle manager", kOpenDevice});
  const Row rows[] = {
      {"running: the device opens at once", ServiceState::kRunning, {kOpenDevice}},
      {"registered and stopped: opened and started", ServiceState::kStopped, stopped},
      {"not registered: registered and started", ServiceState::kNotRegistered, not_registered},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServiceApi api;
    api.state = row.before;
    if (row.before != ServiceState::kNotRegistered)
      api.registered_image = kImage;
    const Outcome run = Open(api);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(Valid(run.channel));
    EXPECT_EQ(api.state, ServiceState::kRunning);
    EXPECT_EQ(api.calls, row.calls);
    EXPECT_EQ(api.traces, Calls{"CreateFile \n"});
    ExpectRunRules(api, run);
  }
}

TEST(OpenDriverChannelStates, ExistingRegistrationIsUsedUnchanged) {
  FakeServiceApi api;
  api.state = ServiceState::kStopped;
  api.registered_image = "D:\\ELSEWHERE\\ZYNDRV.sys";
  api.files.insert(api.registered_image);
  const Outcome run = Open(api);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(api.state, ServiceState::kRunning);
  EXPECT_EQ(api.registered_image, "D:\\ELSEWHERE\\ZYNDRV.sys");
  ExpectRunRules(api, run);
}

// Every way OpenDriverChannel can fail: its result, its traces, and the service it leaves.
TEST(OpenDriverChannelFailures, ResultTracesAndServiceLeft) {
  struct Row {
    const char* name;
    std::function<void(FakeServiceApi&)> setup;
    int result;
    Calls traces;  // after "CreateFile \n"
    ServiceState after;
    bool channel_valid;
  };
  using S = ServiceState;
  const Row rows[] = {
      {"first open: access denied",
       [](FakeServiceApi& a) { a.failures["OpenDevice"] = {5}; },
       0,
       {"CreateFile failed!  Error = 5\n"},
       S::kNotRegistered,
       false},
      {"first open: device busy, service running",
       [](FakeServiceApi& a) {
         a.state = S::kRunning;
         a.failures["OpenDevice"] = {32};
       },
       0,
       {"CreateFile failed!  Error = 32\n"},
       S::kRunning,
       false},
      {"current directory cannot be read",
       [](FakeServiceApi& a) { a.failures["CurrentDirectory"] = {3}; },
       0,
       {"GetCurrentDirectory failed!  Error = 3 \n"},
       S::kNotRegistered,
       false},
      {"image missing",
       [](FakeServiceApi& a) { a.files.clear(); },
       0,
       {"Driver: ZYNDRV.SYS is not in the directory. \n"},
       S::kNotRegistered,
       false},
      {"image missing, a stopped registration does not help",
       [](FakeServiceApi& a) {
         a.state = S::kStopped;
         a.registered_image = "D:\\ZYNDRV.sys";
         a.files = {"D:\\ZYNDRV.sys"};
       },
       0,
       {"Driver: ZYNDRV.SYS is not in the directory. \n"},
       S::kStopped,
       false},
      {"image there but not readable without sharing",
       [](FakeServiceApi& a) { a.failures["OpenImage"] = {32}; },
       0,
       {"Driver: ZYNDRV.SYS is not in the directory. \n"},
       S::kNotRegistered,
       false},
      {"service control manager cannot be opened",
       [](FakeServiceApi& a) { a.failures["OpenServiceManager"] = {5}; },
       0,
       {"Open SC Manager failed! Error = 5 \n"},
       S::kNotRegistered,
       false},
      {"registration fails",
       [](FakeServiceApi& a) { a.failures["RegisterService"] = {1072}; },
       1,
       {"CreateService failed!  Error = 1072 \n", "CreateFile failed!  Error = 2\n"},
       S::kNotRegistered,
       false},
      {"existing registration cannot be opened",
       [](FakeServiceApi& a) {
         a.state = S::kStopped;
         a.registered_image = "C:\\ZYN\\ZYNDRV.sys";
         a.failures["OpenNamedService"] = {5};
       },
       1,
       {"OpenService failed!  Error = 5 \n", "CreateFile failed!  Error = 2\n"},
       S::kStopped,
       false},
      {"image is not a driver",
       [](FakeServiceApi& a) { a.image_is_a_driver = false; },
       1,
       {"StartService failure! Error = 1114 \n", "CreateFile failed!  Error = 2\n"},
       S::kStopped,
       false},
      {"not ready, Cancel",
       [](FakeServiceApi& a) {
         a.failures["Start"] = {21};
         a.prompt_answer = 2;
       },
       1,
       {"StartService failure! Error = 21 \n", "CreateFile failed!  Error = 2\n"},
       S::kStopped,
       false},
      {"not ready, Retry fails too",
       [](FakeServiceApi& a) {
         a.failures["Start"] = {21, 1053};
       },
       1,
       {"StartService failure! Error = 21 \n", "StartService 2nd failure! Error = 1053 \n",
        "CreateFile failed!  Error = 2\n"},
       S::kStopped,
       false},
      {"device open after a good start fails",
       [](FakeServiceApi& a) {
         a.failures["OpenDevice"] = {0, 5};
       },
       1,
       {"CreateFile failed!  Error = 5\n"},
       S::kRunning,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServiceApi api;
    row.setup(api);
    const Outcome run = Open(api);
    EXPECT_EQ(run.result, row.result);
    Calls traces = {"CreateFile \n"};
    traces.insert(traces.end(), row.traces.begin(), row.traces.end());
    EXPECT_EQ(api.traces, traces);
    EXPECT_EQ(api.state, row.after);
    EXPECT_EQ(Valid(run.channel), row.channel_valid);
    if (!row.channel_valid) {
      EXPECT_EQ(run.channel, hw::InvalidDeviceHandle())
          << "a failed open leaves the invalid handle";
    }
    ExpectRunRules(api, run);
  }
}

// The start errors that steer: 1056 counts as started; 21 asks once and Retry starts once more.
TEST(OpenDriverChannelStart, ErrorCodesThatSteer) {
  struct Row {
    const char* name;
    std::deque<std::uint32_t> start_errors;  // empty: the model's own answer
    int answer;
    size_t starts;
    bool asked;
    Calls traces;
    bool channel_valid;
  };
  const Row rows[] = {
      {"not ready, Retry succeeds",
       {21},
       4,
       2,
       true,
       {"StartService failure! Error = 21 \n"},
       true},
      {"not ready, Cancel: no second start",
       {21},
       2,
       1,
       true,
       {"StartService failure! Error = 21 \n", "CreateFile failed!  Error = 2\n"},
       false},
      {"not ready twice: still one prompt",
       {21, 21},
       4,
       2,
       true,
       {"StartService failure! Error = 21 \n", "StartService 2nd failure! Error = 21 \n",
        "CreateFile failed!  Error = 2\n"},
       false},
      {"another error: no prompt",
       {1058},
       4,
       1,
       false,
       {"StartService failure! Error = 1058 \n", "CreateFile failed!  Error = 2\n"},
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServiceApi api;
    api.failures["Start"] = row.start_errors;
    api.prompt_answer = row.answer;
    const Outcome run = Open(api);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(Valid(run.channel), row.channel_valid);
    EXPECT_EQ(Count(api.calls, "Start"), row.starts);
    const std::string prompt = "AskUser StartService failed err: ERROR_NOT_READY | zynid | 5";
    EXPECT_EQ(Count(api.calls, prompt), row.asked ? 1u : 0u);
    Calls traces = {"CreateFile \n"};
    traces.insert(traces.end(), row.traces.begin(), row.traces.end());
    EXPECT_EQ(api.traces, traces);
    ExpectRunRules(api, run);
  }
}

TEST(OpenDriverChannelStart, AlreadyRunningCountsAsStarted) {
  // The device was not there at the first open, but the service is running by the start.
  FakeServiceApi api;
  api.state = ServiceState::kRunning;
  api.registered_image = kImage;
  api.failures["OpenDevice"] = {2};
  const Outcome run = Open(api);
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(Valid(run.channel));
  EXPECT_EQ(Count(api.calls, "Start"), 1u);
  EXPECT_EQ(api.traces, Calls{"CreateFile \n"}) << "no trace and no prompt for 1056";
  ExpectRunRules(api, run);
}

// A current directory too long for "\ZYNDRV.sys" in 260 characters, or a length the buffer
// cannot hold, gives 0 before the service control manager and before any file is opened.
TEST(OpenDriverChannelImagePath, MustFitTheBuffer) {
  struct Row {
    const char* name;
    size_t directory_length;
    std::uint32_t answer;  // 0: the true length
    int result;
  };
  const Row rows[] = {
      {"path fills the buffer exactly", 248, 0, 1},
      {"one character too long", 249, 0, 0},
      {"directory fills the buffer", 259, 0, 0},
      {"directory longer than the buffer", 300, 0, 0},
      {"length reported above the buffer", 10, 261, 0},
      {"length reported as the buffer's size", 10, 260, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServiceApi api;
    api.current_directory = "C:\\" + std::string(row.directory_length - 3, 'd');
    api.files = {api.current_directory + "\\ZYNDRV.sys"};
    api.directory_answer = row.answer;
    const Outcome run = Open(api);
    EXPECT_EQ(run.result, row.result);
    if (row.result == 0) {
      EXPECT_EQ(api.calls, (Calls{kOpenDevice, "CurrentDirectory 260"}));
      EXPECT_EQ(api.traces.back().rfind("Driver path too long!  Length = ", 0), 0u);
    } else {
      EXPECT_EQ(api.registered_image, api.current_directory + "\\ZYNDRV.sys");
      EXPECT_EQ(api.registered_image.size(), 259u);
    }
    ExpectRunRules(api, run);
  }
}

// Every single failure and every pair of failures of the calls, from every starting state:
// the rules of ExpectRunRules hold throughout, in particular no 0 after the manager was opened.
TEST(OpenDriverChannelRules, HoldUnderAnyFailures) {
  const char* names[] = {
      "OpenDevice",       "OpenImage", "CurrentDirectory", "OpenServiceManager", "RegisterService",
      "OpenNamedService", "Start"};
  const std::uint32_t errors[] = {0, 2, 5, 21, 1056, 1073};
  int runs = 0;
  for (ServiceState state :
       {ServiceState::kNotRegistered, ServiceState::kStopped, ServiceState::kRunning}) {
    for (const char* first : names) {
      for (std::uint32_t first_error : errors) {
        for (const char* second : names) {
          for (std::uint32_t second_error : errors) {
            FakeServiceApi api;
            api.state = state;
            if (state != ServiceState::kNotRegistered)
              api.registered_image = kImage;
            api.failures[first].push_back(first_error);
            api.failures[second].push_back(second_error);
            for (int answer : {2, 4}) {
              FakeServiceApi copy = api;
              copy.prompt_answer = answer;
              SCOPED_TRACE(std::string(first) + " " + std::to_string(first_error) + ", " + second +
                           " " + std::to_string(second_error));
              ExpectRunRules(copy, Open(copy));
              ++runs;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(runs, 10000);
}

// RemoveDriverService: close, stop, delete, and what each failure leaves.
TEST(RemoveDriverService, StopsAndDeletesUnlessAStepFails) {
  const Calls full = {
      "CloseFile device", "OpenServiceManager",         "OpenNamedService ZYNDRV 0xF01FF", "Stop",
      "Delete",           "CloseServiceHandle service", "CloseServiceHandle manager"};
  struct Row {
    const char* name;
    std::function<void(FakeServiceApi&)> setup;
    Calls calls;
    Calls traces;
    ServiceState after;
  };
  using S = ServiceState;
  const Row rows[] = {
      {"running service: stopped and deleted", [](FakeServiceApi&) {}, full, {}, S::kNotRegistered},
      {"manager cannot be opened",
       [](FakeServiceApi& a) { a.failures["OpenServiceManager"] = {5}; },
       {"CloseFile device", "OpenServiceManager"},
       {"Open SC Manager failed! Error = 5 \n"},
       S::kRunning},
      {"service cannot be opened",
       [](FakeServiceApi& a) { a.failures["OpenNamedService"] = {1060}; },
       {"CloseFile device", "OpenServiceManager", "OpenNamedService ZYNDRV 0xF01FF",
        "CloseServiceHandle manager"},
       {"OpenService failed!  Error = 1060 \n"},
       S::kRunning},
      {"stop fails: not deleted",
       [](FakeServiceApi& a) { a.failures["Stop"] = {1052}; },
       {"CloseFile device", "OpenServiceManager", "OpenNamedService ZYNDRV 0xF01FF", "Stop",
        "CloseServiceHandle service", "CloseServiceHandle manager"},
       {"ControlService failed!  Error = 1052 \n"},
       S::kRunning},
      {"already stopped: not deleted",
       [](FakeServiceApi& a) { a.state = S::kStopped; },
       {"CloseFile device", "OpenServiceManager", "OpenNamedService ZYNDRV 0xF01FF", "Stop",
        "CloseServiceHandle service", "CloseServiceHandle manager"},
       {"ControlService failed!  Error = 1062 \n"},
       S::kStopped},
      {"delete fails",
       [](FakeServiceApi& a) { a.failures["Delete"] = {1072}; },
       full,
       {"DeleteService failed!  Error = 1072 \n"},
       S::kStopped},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServiceApi api;
    api.state = S::kRunning;
    api.registered_image = kImage;
    zynrt::Owner<hw::DeviceKind> channel(hw::DeviceKind{&api});
    ASSERT_EQ(hw::OpenDriverChannel(api, *channel.receive(), kCaption), 1);
    api.calls.clear();
    api.traces.clear();
    row.setup(api);
    hw::RemoveDriverService(api, channel);
    EXPECT_EQ(api.calls, row.calls);
    EXPECT_EQ(api.traces, row.traces);
    EXPECT_EQ(api.state, row.after);
    EXPECT_EQ(api.open_files, 0);
    EXPECT_TRUE(api.open_service_handles.empty());
  }
}

}  // namespace
