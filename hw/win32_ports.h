// The Windows side of the administrator check and the driver service: the ports forwarded to
// the real calls, the diagnostic trace, and the three operations as the application calls them.
#pragma once

#include <windows.h>

#include "hw/admin_check.h"
#include "hw/driver_service.h"
#include "hw/nt_functions.h"
#include "runtime/win32_handles.h"

// Formats like wsprintfA and sends the text to the debugger; the user never sees it.
void DriverTrace(const char* format, ...);

// ADVAPI32's NT functions as this system has them. The program imports ADVAPI32 itself, for
// the registry, so the library is loaded on both families for the whole run.
class Advapi32Binder final : public hw::FunctionBinder {
 public:
  void* Find(const char* name) override;
};

// The NT calls, each through its function looked up when first needed. Where it cannot be
// bound the call fails, with ERROR_PROC_NOT_FOUND as its error.
class NtCalls {
 protected:
  template <class Function>
  Function Bound(hw::NtFunction function) {
    return reinterpret_cast<Function>(Address(function));
  }

 private:
  void* Address(hw::NtFunction function);

  Advapi32Binder binder_;
  hw::NtFunctions functions_{binder_};
};

class Win32TokenApi : public hw::TokenApi, NtCalls {
 public:
  bool OpenThreadToken(hw::TokenHandle* token) override;
  bool OpenProcessToken(hw::TokenHandle* token) override;
  std::uint32_t LastError() override;
  bool QueryGroups(hw::TokenHandle token, void* buffer, std::uint32_t size,
                   std::uint32_t* returned) override;
  void* AllocateBuffer(std::uint32_t size) override;
  void FreeBuffer(void* buffer) override;
  bool AllocateSid(const std::uint8_t (&authority)[6], std::uint8_t count,
                   const std::uint32_t (&sub_authorities)[8], hw::SidHandle* sid) override;
  void FreeSid(hw::SidHandle sid) override;
  bool EqualSid(const void* first, hw::SidHandle second) override;
  void CloseToken(hw::TokenHandle token) override;
};

class Win32ServiceApi : public hw::ServiceApi, NtCalls {
 public:
  std::uint32_t LastError() override;
  hw::DeviceHandle OpenFile(const char* path, std::uint32_t access) override;
  void CloseFile(hw::DeviceHandle file) override;
  std::uint32_t CurrentDirectory(std::uint32_t size, char* buffer) override;
  hw::ServiceHandle OpenServiceManager() override;
  hw::ServiceHandle RegisterService(hw::ServiceHandle manager, const char* name,
                                    const char* display_name, std::uint32_t access,
                                    std::uint32_t type, std::uint32_t start,
                                    std::uint32_t error_control, const char* image_path) override;
  hw::ServiceHandle OpenNamedService(hw::ServiceHandle manager, const char* name,
                                     std::uint32_t access) override;
  bool StartNamedService(hw::ServiceHandle service) override;
  bool StopNamedService(hw::ServiceHandle service) override;
  bool DeleteNamedService(hw::ServiceHandle service) override;
  void CloseServiceHandle(hw::ServiceHandle handle) override;
  int AskUser(const char* text, const char* caption, std::uint32_t type) override;
  void Trace(const char* format) override;
  void Trace(const char* format, std::uint32_t error) override;
};

// Non-zero when the user's token holds the Administrators group.
int CheckAdministratorMembership();

// Opens the device ZYNDRV into `channel`, registering and starting the service when needed.
// `caption` is the caption of the program's message boxes. 0 when it failed before it reached
// the service control manager; otherwise 1, also when `channel` holds the invalid handle.
int OpenDriverChannel(win32::KernelHandle& channel, const char* caption);

// Closes the channel, stops the service ZYNDRV and deletes it.
void RemoveDriverService(win32::KernelHandle& channel);
