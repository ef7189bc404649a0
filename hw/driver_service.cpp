#include "hw/driver_service.h"

#include <cstring>

#include "protocol/win32_numbers.h"
#include "protocol/device_protocol.h"

namespace hw {
namespace {

constexpr char kServiceName[] = "ZYNDRV";
constexpr char kImageSuffix[] = "\\ZYNDRV.sys";

// A service control manager or service handle. Where both are held, the manager's owner is
// declared first, so that the service handle is closed before the manager's.
using ServiceKind = zynrt::PortKind<ServiceApi, &ServiceApi::CloseServiceHandle>;
using ServiceOwner = zynrt::Owner<ServiceKind>;

DeviceHandle OpenDevice(ServiceApi& api) {
  return api.OpenFile(kNtDevicePath, win32::kGenericRead | win32::kGenericWrite);
}

// The current directory, then "\ZYNDRV.sys". False, with nothing written past the buffer, when
// the directory cannot be read or the whole path does not fit.
bool BuildImagePath(ServiceApi& api, char (&path)[win32::kMaxPath]) {
  const std::uint32_t reported = api.CurrentDirectory(sizeof path, path);
  if (reported == 0) {
    api.Trace(trace::kGetCurrentDirectoryFailed, api.LastError());
    return false;
  }
  // A length at or above the buffer's size is the size the directory would need: nothing
  // usable was written. Below it, the text ends at its terminator inside the buffer.
  const void* end = reported < sizeof path ? std::memchr(path, '\0', sizeof path) : nullptr;
  const std::size_t length = end != nullptr ? static_cast<const char*>(end) - path : sizeof path;
  if (length + sizeof kImageSuffix > sizeof path) {
    api.Trace(trace::kImagePathTooLong, reported);
    return false;
  }
  std::memcpy(path + length, kImageSuffix, sizeof kImageSuffix);
  return true;
}

bool ImageIsThere(ServiceApi& api, const char* path) {
  // Only opened to see that it can be: closed again at once.
  const zynrt::Owner<DeviceKind> image(api.OpenFile(path, win32::kGenericRead), DeviceKind{&api});
  if (image.get() == InvalidDeviceHandle()) {
    api.Trace(trace::kImageMissing);
    return false;
  }
  return true;
}

// The service's handle: a new registration, or the one an earlier run left. Null, traced,
// when neither can be had.
ServiceHandle RegisterOrOpen(ServiceApi& api, ServiceHandle manager, const char* image_path) {
  const ServiceHandle created = api.RegisterService(
      manager, kServiceName, kServiceName, win32::kServiceAllAccess, win32::kServiceKernelDriver,
      win32::kServiceDemandStart, win32::kServiceErrorNormal, image_path);
  if (created != nullptr)
    return created;
  const std::uint32_t error = api.LastError();
  if (error != win32::kErrorServiceExists) {
    api.Trace(trace::kCreateServiceFailed, error);
    return nullptr;
  }
  // An existing registration is used as it is, whatever image path it names.
  const ServiceHandle existing =
      api.OpenNamedService(manager, kServiceName, win32::kServiceAllAccess);
  if (existing == nullptr)
    api.Trace(trace::kOpenServiceFailed, api.LastError());
  return existing;
}

// A failed start is no failure of the open: the final device open shows whether the driver is
// there. A device that is not ready yet gets one more start if the user asks for it.
void Start(ServiceApi& api, ServiceHandle service, const char* caption) {
  if (api.StartNamedService(service))
    return;
  const std::uint32_t error = api.LastError();
  if (error == win32::kErrorServiceAlreadyRunning)
    return;
  api.Trace(trace::kStartFailed, error);
  if (error != win32::kErrorNotReady)
    return;
  if (api.AskUser(kNotReadyPrompt, caption, win32::kMbRetryCancel) != win32::kIdRetry)
    return;
  if (!api.StartNamedService(service))
    api.Trace(trace::kSecondStartFailed, api.LastError());
}

}  // namespace

int OpenDriverChannel(ServiceApi& api, DeviceHandle& channel, const char* caption) {
  api.Trace(trace::kOpeningDevice);
  channel = OpenDevice(api);
  if (channel != InvalidDeviceHandle())
    return 1;  // the driver is running: nothing to install or start
  const std::uint32_t error = api.LastError();
  if (error != win32::kErrorFileNotFound) {
    api.Trace(trace::kCreateFileFailed, error);
    return 0;
  }

  // The image is checked before the service control manager is opened, so that every 0 from
  // here leaves the service database untouched.
  char image_path[win32::kMaxPath] = {};
  if (!BuildImagePath(api, image_path) || !ImageIsThere(api, image_path))
    return 0;

  {
    const ServiceOwner manager(api.OpenServiceManager(), ServiceKind{&api});
    if (!manager.holds()) {
      api.Trace(trace::kOpenManagerFailed, api.LastError());
      return 0;
    }
    const ServiceOwner service(RegisterOrOpen(api, manager.get(), image_path), ServiceKind{&api});
    if (service.holds())
      Start(api, service.get(), caption);
    // Leaving this block closes the service handle, then the manager's.
  }

  channel = OpenDevice(api);
  if (channel == InvalidDeviceHandle())
    api.Trace(trace::kCreateFileFailed, api.LastError());
  return 1;
}

void StopAndDeleteService(ServiceApi& api) {
  const ServiceOwner manager(api.OpenServiceManager(), ServiceKind{&api});
  if (!manager.holds()) {
    api.Trace(trace::kOpenManagerFailed, api.LastError());
    return;
  }
  const ServiceOwner service(
      api.OpenNamedService(manager.get(), kServiceName, win32::kServiceAllAccess),
      ServiceKind{&api});
  if (!service.holds()) {
    api.Trace(trace::kOpenServiceFailed, api.LastError());
    return;
  }
  // No wait for the stopped state: the deletion is only marked while the driver unloads. A
  // service that would not stop is left registered rather than deleted under a running driver.
  if (!api.StopNamedService(service.get())) {
    api.Trace(trace::kStopFailed, api.LastError());
    return;
  }
  if (!api.DeleteNamedService(service.get()))
    api.Trace(trace::kDeleteFailed, api.LastError());
}

}  // namespace hw
