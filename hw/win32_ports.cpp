#include "hw/win32_ports.h"

#include <cstdarg>
#include <cstddef>

#include "hw/device_io.h"
#include "hw/win32_numbers.h"

// The portable logic names these numbers itself; they must be the platform's.
static_assert(win32::kErrorFileNotFound == ERROR_FILE_NOT_FOUND, "error code");
static_assert(win32::kErrorNotReady == ERROR_NOT_READY, "error code");
static_assert(win32::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER, "error code");
static_assert(win32::kErrorNoToken == ERROR_NO_TOKEN, "error code");
static_assert(win32::kErrorServiceAlreadyRunning == ERROR_SERVICE_ALREADY_RUNNING, "error code");
static_assert(win32::kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST, "error code");
static_assert(win32::kErrorServiceNotActive == ERROR_SERVICE_NOT_ACTIVE, "error code");
static_assert(win32::kErrorServiceExists == ERROR_SERVICE_EXISTS, "error code");
static_assert(win32::kGenericRead == GENERIC_READ && win32::kGenericWrite == GENERIC_WRITE,
              "file access");
static_assert(win32::kServiceAllAccess == SERVICE_ALL_ACCESS, "service access");
static_assert(win32::kServiceKernelDriver == SERVICE_KERNEL_DRIVER, "service type");
static_assert(win32::kServiceDemandStart == SERVICE_DEMAND_START, "start type");
static_assert(win32::kServiceErrorNormal == SERVICE_ERROR_NORMAL, "error control");
static_assert(win32::kMbRetryCancel == MB_RETRYCANCEL && win32::kIdRetry == IDRETRY, "message box");
static_assert(win32::kMaxPath == MAX_PATH, "path buffer");
// The group list is read through our own layout of TOKEN_GROUPS.
static_assert(sizeof(hw::TokenGroupEntry) == sizeof(SID_AND_ATTRIBUTES), "group entry");
static_assert(offsetof(hw::TokenGroupEntry, sid) == offsetof(SID_AND_ATTRIBUTES, Sid) &&
                  offsetof(hw::TokenGroupEntry, attributes) ==
                      offsetof(SID_AND_ATTRIBUTES, Attributes),
              "group entry");
static_assert(offsetof(hw::TokenGroupList, group_count) == offsetof(TOKEN_GROUPS, GroupCount) &&
                  offsetof(hw::TokenGroupList, groups) == offsetof(TOKEN_GROUPS, Groups),
              "group list");

void DriverTrace(const char* format, ...) {
  // wvsprintfA writes at most 1024 characters, terminator included.
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  wvsprintfA(text, format, arguments);
  va_end(arguments);
  OutputDebugStringA(text);
}

// Token.

bool Win32TokenApi::OpenThreadToken(hw::TokenHandle* token) {
  return ::OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token) != 0;
}

bool Win32TokenApi::OpenProcessToken(hw::TokenHandle* token) {
  return ::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token) != 0;
}

std::uint32_t Win32TokenApi::LastError() {
  return GetLastError();
}

bool Win32TokenApi::QueryGroups(hw::TokenHandle token, void* buffer, std::uint32_t size,
                                std::uint32_t* returned) {
  DWORD length = *returned;
  const BOOL ok = GetTokenInformation(token, TokenGroups, buffer, size, &length);
  *returned = length;
  return ok != 0;
}

// The process heap: the program links no C library with a malloc of its own.
void* Win32TokenApi::AllocateBuffer(std::uint32_t size) {
  return HeapAlloc(GetProcessHeap(), 0, size);
}

void Win32TokenApi::FreeBuffer(void* buffer) {
  HeapFree(GetProcessHeap(), 0, buffer);
}

bool Win32TokenApi::AllocateSid(const std::uint8_t (&authority)[6], std::uint8_t count,
                                const std::uint32_t (&sub)[8], hw::SidHandle* sid) {
  SID_IDENTIFIER_AUTHORITY identifier;
  for (int i = 0; i < 6; ++i)
    identifier.Value[i] = authority[i];
  return AllocateAndInitializeSid(&identifier, count, sub[0], sub[1], sub[2], sub[3], sub[4],
                                  sub[5], sub[6], sub[7], sid) != 0;
}

void Win32TokenApi::FreeSid(hw::SidHandle sid) {
  ::FreeSid(sid);
}

bool Win32TokenApi::EqualSid(const void* first, hw::SidHandle second) {
  return ::EqualSid(const_cast<PSID>(first), second) != 0;
}

void Win32TokenApi::CloseToken(hw::TokenHandle token) {
  win32::KernelHandle(token).Reset();
}

// Service control manager, files and the prompt. The device and image opens go through the
// device calls, which a test build answers itself.

std::uint32_t Win32ServiceApi::LastError() {
  return GetLastError();
}

hw::DeviceHandle Win32ServiceApi::OpenFile(const char* path, std::uint32_t access) {
  return OpenDeviceFile(path, access, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

void Win32ServiceApi::CloseFile(hw::DeviceHandle file) {
  win32::KernelHandle(file).Reset();
}

std::uint32_t Win32ServiceApi::CurrentDirectory(std::uint32_t size, char* buffer) {
  return GetCurrentDirectoryA(size, buffer);
}

hw::ServiceHandle Win32ServiceApi::OpenServiceManager() {
  return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

hw::ServiceHandle Win32ServiceApi::RegisterService(hw::ServiceHandle manager, const char* name,
                                                   const char* display_name, std::uint32_t access,
                                                   std::uint32_t type, std::uint32_t start,
                                                   std::uint32_t error_control,
                                                   const char* image_path) {
  return CreateServiceA(static_cast<SC_HANDLE>(manager), name, display_name, access, type, start,
                        error_control, image_path, nullptr, nullptr, nullptr, nullptr, nullptr);
}

hw::ServiceHandle Win32ServiceApi::OpenNamedService(hw::ServiceHandle manager, const char* name,
                                                    std::uint32_t access) {
  return OpenServiceA(static_cast<SC_HANDLE>(manager), name, access);
}

bool Win32ServiceApi::StartNamedService(hw::ServiceHandle service) {
  return StartServiceA(static_cast<SC_HANDLE>(service), 0, nullptr) != 0;
}

bool Win32ServiceApi::StopNamedService(hw::ServiceHandle service) {
  SERVICE_STATUS status;
  return ControlService(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status) != 0;
}

bool Win32ServiceApi::DeleteNamedService(hw::ServiceHandle service) {
  return DeleteService(static_cast<SC_HANDLE>(service)) != 0;
}

void Win32ServiceApi::CloseServiceHandle(hw::ServiceHandle handle) {
  ::CloseServiceHandle(static_cast<SC_HANDLE>(handle));
}

int Win32ServiceApi::AskUser(const char* text, const char* caption, std::uint32_t type) {
  return MessageBoxA(nullptr, text, caption, type);
}

void Win32ServiceApi::Trace(const char* format) {
  DriverTrace(format);
}

void Win32ServiceApi::Trace(const char* format, std::uint32_t error) {
  DriverTrace(format, static_cast<int>(error));
}

// The operations.

int CheckAdministratorMembership() {
  Win32TokenApi api;
  return hw::CheckAdministratorMembership(api);
}

int OpenDriverChannel(win32::KernelHandle& channel, const char* caption) {
  Win32ServiceApi api;
  return hw::OpenDriverChannel(api, *channel.receive(), caption);
}

void RemoveDriverService(win32::KernelHandle& channel) {
  Win32ServiceApi api;
  hw::RemoveDriverService(api, channel);
}
