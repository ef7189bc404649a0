// The hardware road as the program takes it, on both families: the administrator check and the
// driver service over the real token and service calls (NT family), the VxD open (9x family), and
// the requests on the device channel to the outside drivers. The decision logic of the check and
// the service is portable and tested on its own against fakes of its ports (hw/admin_check.h,
// hw/driver_service.h); the program hands it the real ports declared here. Results as the
// identification flow relies on them: non-zero is success.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dmi/dmi_reader.h"
#include "hw/admin_check.h"
#include "hw/driver_service.h"
#include "hw/nt_functions.h"
#include "runtime/win32_handles.h"

namespace hw {

// ADVAPI32's NT functions as this system has them. The program imports ADVAPI32 itself, for
// the registry, so the library is loaded on both families for the whole run.
class Advapi32Binder final : public FunctionBinder {
 public:
  void* Find(const char* name) override;
};

// The NT calls, each through its function looked up when first needed. Where it cannot be
// bound the call fails, with ERROR_PROC_NOT_FOUND as its error.
class NtCalls {
 protected:
  template <class Function>
  Function Bound(NtFunction function) {
    return reinterpret_cast<Function>(Address(function));
  }

 private:
  void* Address(NtFunction function);

  Advapi32Binder binder_;
  NtFunctions functions_{binder_};
};

// The token calls of the administrator check.
class Win32TokenApi : public TokenApi, NtCalls {
 public:
  bool OpenThreadToken(TokenHandle* token) override;
  bool OpenProcessToken(TokenHandle* token) override;
  std::uint32_t LastError() override;
  bool QueryGroups(TokenHandle token, void* buffer, std::uint32_t size,
                   std::uint32_t* returned) override;
  void* AllocateBuffer(std::uint32_t size) override;
  void FreeBuffer(void* buffer) override;
  bool AllocateSid(const std::uint8_t (&authority)[6], std::uint8_t count,
                   const std::uint32_t (&sub_authorities)[8], SidHandle* sid) override;
  void FreeSid(SidHandle sid) override;
  bool EqualSid(const void* first, SidHandle second) override;
  void CloseToken(TokenHandle token) override;
};

// The service control manager, file and prompt calls of the driver service. Its traces go to
// the debugger; the user never sees them.
class Win32ServiceApi : public ServiceApi, NtCalls {
 public:
  std::uint32_t LastError() override;
  DeviceHandle OpenFile(const char* path, std::uint32_t access) override;
  void CloseFile(DeviceHandle file) override;
  std::uint32_t CurrentDirectory(std::uint32_t size, char* buffer) override;
  ServiceHandle OpenServiceManager() override;
  ServiceHandle RegisterService(ServiceHandle manager, const char* name, const char* display_name,
                                std::uint32_t access, std::uint32_t type, std::uint32_t start,
                                std::uint32_t error_control, const char* image_path) override;
  ServiceHandle OpenNamedService(ServiceHandle manager, const char* name,
                                 std::uint32_t access) override;
  bool StartNamedService(ServiceHandle service) override;
  bool StopNamedService(ServiceHandle service) override;
  bool DeleteNamedService(ServiceHandle service) override;
  void CloseServiceHandle(ServiceHandle handle) override;
  int AskUser(const char* text, const char* caption, std::uint32_t type) override;
  void Trace(const char* format) override;
  void Trace(const char* format, std::uint32_t error) override;
};

// Opens ZYNDATA.VXD, which loads the VxD; closing the handle unloads it. The handle goes into
// `channel` whatever it is. Non-zero when it is valid.
int OpenVxdChannel(win32::KernelHandle& channel);

// The probe request: the caller's word is both the input and the output buffer.
int ProbeDriverChannel(HANDLE channel, std::uint16_t* probe_word);
int ProbeVxdChannel(HANDLE channel, std::uint16_t* probe_word);

// The table reader over this channel, with each family's request codes. Statuses of
// ReadBoardIdentity (dmi/dmi_reader.h).
std::uint16_t ReadBoardIdentityNt(HANDLE channel, BoardIdentity& identity);
std::uint16_t ReadBoardIdentityVxd(HANDLE channel, BoardIdentity& identity);

}  // namespace hw
