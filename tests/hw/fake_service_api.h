// A ServiceApi over a small model of one machine: a current directory with files in it, and
// the service control manager's view of the service ZYNDRV (not registered, registered and
// stopped, running; its device exists while it runs). Every call is recorded as one line, every
// trace as its formatted text; a test can make any call fail with an error of its choosing.
#pragma once

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hw/driver_service.h"
#include "protocol/win32_numbers.h"

enum class ServiceState { kNotRegistered, kStopped, kRunning };

class FakeServiceApi : public hw::ServiceApi {
 public:
  // The machine. Defaults: started from C:\ZYN with the image there, nothing registered.
  ServiceState state = ServiceState::kNotRegistered;
  std::string registered_image;  // the registration's image path
  std::string current_directory = "C:\\ZYN";
  std::set<std::string> files = {"C:\\ZYN\\ZYNDRV.sys"};
  bool image_is_a_driver = true;  // a start of a registration whose image is missing fails too
  int prompt_answer = win32::kIdRetry;
  // Failures: for a call name, the errors its next calls fail with, in order (0: no failure).
  // Names: OpenDevice, OpenImage, CurrentDirectory, OpenServiceManager, RegisterService,
  // OpenNamedService, Start, Stop, Delete.
  std::map<std::string, std::deque<std::uint32_t>> failures;
  // Overrides the answer of CurrentDirectory (its length or needed size) when non-zero.
  std::uint32_t directory_answer = 0;

  // What happened.
  std::vector<std::string> calls;
  std::vector<std::string> traces;
  std::vector<std::string> opened_paths;
  int open_files = 0;
  std::set<hw::ServiceHandle> open_service_handles;

  static constexpr const char* kDevice = "\\\\.\\ZYNDRV";

  // True once the service control manager was opened: from then on the service database may
  // have been touched.
  bool ReachedServiceManager() const { return managers_opened_ > 0; }

  std::uint32_t LastError() override { return last_error_; }

  hw::DeviceHandle OpenFile(const char* path, std::uint32_t access) override {
    const bool device = std::strcmp(path, kDevice) == 0;
    calls.push_back(std::string("OpenFile ") + path + " " + Access(access));
    opened_paths.push_back(path);
    if (Injected(device ? "OpenDevice" : "OpenImage"))
      return hw::InvalidDeviceHandle();
    const bool there = device ? state == ServiceState::kRunning : files.count(path) != 0;
    if (!there) {
      last_error_ = win32::kErrorFileNotFound;
      return hw::InvalidDeviceHandle();
    }
    ++open_files;
    return device ? static_cast<void*>(&device_) : static_cast<void*>(&image_);
  }

  void CloseFile(hw::DeviceHandle file) override {
    calls.push_back(file == &device_ ? "CloseFile device" : "CloseFile image");
    --open_files;
  }

  std::uint32_t CurrentDirectory(std::uint32_t size, char* buffer) override {
    calls.push_back("CurrentDirectory " + std::to_string(size));
    if (Injected("CurrentDirectory"))
      return 0;
    const std::uint32_t length = static_cast<std::uint32_t>(current_directory.size());
    if (length + 1 > size)
      return directory_answer != 0 ? directory_answer : length + 1;
    std::memcpy(buffer, current_directory.c_str(), length + 1);
    return directory_answer != 0 ? directory_answer : length;
  }

  hw::ServiceHandle OpenServiceManager() override {
    calls.push_back("OpenServiceManager");
    if (Injected("OpenServiceManager"))
      return nullptr;
    ++managers_opened_;
    return NewHandle(&manager_);
  }

  hw::ServiceHandle RegisterService(hw::ServiceHandle manager, const char* name,
                                    const char* display_name, std::uint32_t access,
                                    std::uint32_t type, std::uint32_t start,
                                    std::uint32_t error_control, const char* image_path) override {
    CheckManager(manager);
    char line[512];
    std::snprintf(line, sizeof line, "RegisterService %s %s 0x%X %u %u %u %s", name, display_name,
                  access, type, start, error_control, image_path);
    calls.push_back(line);
    if (Injected("RegisterService"))
      return nullptr;
    if (state != ServiceState::kNotRegistered) {
      last_error_ = win32::kErrorServiceExists;
      return nullptr;
    }
    state = ServiceState::kStopped;
    registered_image = image_path;
    return NewHandle(&service_);
  }

  hw::ServiceHandle OpenNamedService(hw::ServiceHandle manager, const char* name,
                                     std::uint32_t access) override {
    CheckManager(manager);
    char line[128];
    std::snprintf(line, sizeof line, "OpenNamedService %s 0x%X", name, access);
    calls.push_back(line);
    if (Injected("OpenNamedService"))
      return nullptr;
    if (state == ServiceState::kNotRegistered) {
      last_error_ = win32::kErrorServiceDoesNotExist;
      return nullptr;
    }
    return NewHandle(&service_);
  }

  bool StartNamedService(hw::ServiceHandle service) override {
    CheckService(service);
    calls.push_back("Start");
    if (Injected("Start"))
      return false;
    if (state == ServiceState::kRunning)
      return Fail(win32::kErrorServiceAlreadyRunning);
    if (!image_is_a_driver || files.count(registered_image) == 0)
      return Fail(1114);  // ERROR_DLL_INIT_FAILED: what a start of a non-driver answers
    state = ServiceState::kRunning;
    return true;
  }

  bool StopNamedService(hw::ServiceHandle service) override {
    CheckService(service);
    calls.push_back("Stop");
    if (Injected("Stop"))
      return false;
    if (state != ServiceState::kRunning)
      return Fail(win32::kErrorServiceNotActive);
    state = ServiceState::kStopped;
    return true;
  }

  bool DeleteNamedService(hw::ServiceHandle service) override {
    CheckService(service);
    calls.push_back("Delete");
    if (Injected("Delete"))
      return false;
    state = ServiceState::kNotRegistered;
    registered_image.clear();
    return true;
  }

  void CloseServiceHandle(hw::ServiceHandle handle) override {
    calls.push_back(Kind(handle) == &manager_ ? "CloseServiceHandle manager"
                                              : "CloseServiceHandle service");
    EXPECT_EQ(open_service_handles.erase(handle), 1u) << "closed twice or never opened";
  }

  int AskUser(const char* text, const char* caption, std::uint32_t type) override {
    calls.push_back(std::string("AskUser ") + text + " | " + caption + " | " +
                    std::to_string(type));
    return prompt_answer;
  }

  void Trace(const char* format) override { traces.push_back(format); }
  void Trace(const char* format, std::uint32_t error) override {
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<int>(error));
    traces.push_back(text);
  }

 private:
  bool Injected(const std::string& name) {
    auto found = failures.find(name);
    if (found == failures.end() || found->second.empty())
      return false;
    const std::uint32_t error = found->second.front();
    found->second.pop_front();
    if (error == 0)
      return false;
    last_error_ = error;
    return true;
  }
  bool Fail(std::uint32_t error) {
    last_error_ = error;
    return false;
  }
  static std::string Access(std::uint32_t access) {
    if (access == (win32::kGenericRead | win32::kGenericWrite))
      return "rw";
    if (access == win32::kGenericRead)
      return "r";
    return std::to_string(access);
  }
  // Handles are distinct addresses that remember what they stand for.
  hw::ServiceHandle NewHandle(const int* kind) {
    handles_.push_back(kind);
    hw::ServiceHandle handle = &handles_.back();
    open_service_handles.insert(handle);
    return handle;
  }
  const int* Kind(hw::ServiceHandle handle) const {
    return *static_cast<const int* const*>(handle);
  }
  void CheckManager(hw::ServiceHandle handle) {
    EXPECT_TRUE(open_service_handles.count(handle) && Kind(handle) == &manager_);
  }
  void CheckService(hw::ServiceHandle handle) {
    EXPECT_TRUE(open_service_handles.count(handle) && Kind(handle) == &service_);
  }

  std::uint32_t last_error_ = 0;
  int managers_opened_ = 0;
  int device_ = 0, image_ = 0, manager_ = 0, service_ = 0;
  std::deque<const int*> handles_;  // a deque keeps the addresses of earlier handles
};
