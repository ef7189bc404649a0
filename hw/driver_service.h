// The driver service of the NT family: open the device ZYNDRV, registering and starting the
// kernel driver service from ZYNDRV.sys in the current directory when the device is missing,
// and stop and delete the service again after a successful run. Portable decision logic over a
// thin port onto the platform; the Windows program implements the port with the real
// calls (hw/win32/device_channel.h).
#pragma once

#include <cstdint>

#include "runtime/port_kind.h"

namespace hw {

using DeviceHandle = void*;   // a file handle; InvalidDeviceHandle() after a failed open
using ServiceHandle = void*;  // a service control manager or service handle; null on failure

// The platform's INVALID_HANDLE_VALUE.
inline DeviceHandle InvalidDeviceHandle() {
  return reinterpret_cast<DeviceHandle>(static_cast<std::intptr_t>(-1));
}

// Each member is one platform call. Failures are the invalid handle, null, 0 or false; the
// error code of the latest failed call is then LastError().
class ServiceApi {
 public:
  virtual ~ServiceApi() = default;
  virtual std::uint32_t LastError() = 0;
  // CreateFileA(path, access, share 0, no security, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, none).
  virtual DeviceHandle OpenFile(const char* path, std::uint32_t access) = 0;
  virtual void CloseFile(DeviceHandle file) = 0;
  // GetCurrentDirectoryA(size, buffer): the length written without its terminator, the size
  // needed (terminator included) when the buffer is too small, 0 on failure.
  virtual std::uint32_t CurrentDirectory(std::uint32_t size, char* buffer) = 0;
  // OpenSCManagerA(local machine, default database, SC_MANAGER_ALL_ACCESS).
  virtual ServiceHandle OpenServiceManager() = 0;
  // CreateServiceA on the manager, with no load order group, tag, dependencies, account or
  // password.
  virtual ServiceHandle RegisterService(ServiceHandle manager, const char* name,
                                        const char* display_name, std::uint32_t access,
                                        std::uint32_t type, std::uint32_t start,
                                        std::uint32_t error_control, const char* image_path) = 0;
  // OpenServiceA.
  virtual ServiceHandle OpenNamedService(ServiceHandle manager, const char* name,
                                         std::uint32_t access) = 0;
  // StartServiceA without arguments.
  virtual bool StartNamedService(ServiceHandle service) = 0;
  // ControlService(SERVICE_CONTROL_STOP); the status it returns is not looked at.
  virtual bool StopNamedService(ServiceHandle service) = 0;
  // DeleteService.
  virtual bool DeleteNamedService(ServiceHandle service) = 0;
  virtual void CloseServiceHandle(ServiceHandle handle) = 0;
  // MessageBoxA without owner; the button the user chose.
  virtual int AskUser(const char* text, const char* caption, std::uint32_t type) = 0;
  // DriverTrace(format) and DriverTrace(format, error): diagnostics no user sees.
  virtual void Trace(const char* format) = 0;
  virtual void Trace(const char* format, std::uint32_t error) = 0;
};

// Opens the device into `channel`. 0 when it failed before it opened the service control
// manager (the service database is then untouched); otherwise 1, also when the device still
// cannot be opened and `channel` holds the invalid handle. `caption` is the caption of the
// program's message boxes, for the one prompt this can show.
int OpenDriverChannel(ServiceApi& api, DeviceHandle& channel, const char* caption);

// A file or device handle the port opened, closed through it.
using DeviceKind = zynrt::PortKind<ServiceApi, &ServiceApi::CloseFile>;

// Stops the service and, when it stopped, deletes it.
void StopAndDeleteService(ServiceApi& api);

// Closes the channel through the owner that holds it, then stops and deletes the service: the
// driver can unload only once its device is closed.
template <class ChannelKind>
void RemoveDriverService(ServiceApi& api, zynrt::Owner<ChannelKind>& channel) {
  channel.Reset();
  StopAndDeleteService(api);
}

// The trace texts, named for the tests.
namespace trace {
inline constexpr char kOpeningDevice[] = "CreateFile \n";
inline constexpr char kCreateFileFailed[] = "CreateFile failed!  Error = %d\n";
inline constexpr char kGetCurrentDirectoryFailed[] = "GetCurrentDirectory failed!  Error = %d \n";
inline constexpr char kImagePathTooLong[] = "Driver path too long!  Length = %d \n";
inline constexpr char kImageMissing[] = "Driver: ZYNDRV.SYS is not in the directory. \n";
inline constexpr char kOpenManagerFailed[] = "Open SC Manager failed! Error = %d \n";
inline constexpr char kCreateServiceFailed[] = "CreateService failed!  Error = %d \n";
inline constexpr char kOpenServiceFailed[] = "OpenService failed!  Error = %d \n";
inline constexpr char kStartFailed[] = "StartService failure! Error = %d \n";
inline constexpr char kSecondStartFailed[] = "StartService 2nd failure! Error = %d \n";
inline constexpr char kStopFailed[] = "ControlService failed!  Error = %d \n";
inline constexpr char kDeleteFailed[] = "DeleteService failed!  Error = %d \n";
}  // namespace trace

// The one text of the program that does not come from the resource library.
inline constexpr char kNotReadyPrompt[] = "StartService failed err: ERROR_NOT_READY";

}  // namespace hw
