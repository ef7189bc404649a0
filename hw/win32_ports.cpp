#include "hw/win32_ports.h"

#include <cstdarg>
#include <cstddef>

#include "hw/device_io.h"
#include "hw/win32_numbers.h"

// The portable logic names these numbers itself; they must be the platform's.
static_assert(win32::kErrorFileNotFound == ERROR_FILE_NOT_FOUND, "error code");
static_assert(win32::kErrorProcNotFound == ERROR_PROC_NOT_FOUND, "error code");
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

void* Advapi32Binder::Find(const char* name) {
  const HMODULE advapi32 = GetModuleHandleA("ADVAPI32.DLL");
  return advapi32 != nullptr ? reinterpret_cast<void*>(GetProcAddress(advapi32, name)) : nullptr;
}

void* NtCalls::Address(hw::NtFunction function) {
  void* address = functions_.Address(function);
  if (address == nullptr)
    SetLastError(ERROR_PROC_NOT_FOUND);
  return address;
}

// Token.

bool Win32TokenApi::OpenThreadToken(hw::TokenHandle* token) {
  const auto open = Bound<decltype(&::OpenThreadToken)>(hw::NtFunction::kOpenThreadToken);
  return open != nullptr && open(GetCurrentThread(), TOKEN_QUERY, FALSE, token) != 0;
}

bool Win32TokenApi::OpenProcessToken(hw::TokenHandle* token) {
  const auto open = Bound<decltype(&::OpenProcessToken)>(hw::NtFunction::kOpenProcessToken);
  return open != nullptr && open(GetCurrentProcess(), TOKEN_QUERY, token) != 0;
}

std::uint32_t Win32TokenApi::LastError() {
  return GetLastError();
}

bool Win32TokenApi::QueryGroups(hw::TokenHandle token, void* buffer, std::uint32_t size,
                                std::uint32_t* returned) {
  const auto query = Bound<decltype(&::GetTokenInformation)>(hw::NtFunction::kGetTokenInformation);
  if (query == nullptr)
    return false;
  DWORD length = *returned;
  const BOOL ok = query(token, TokenGroups, buffer, size, &length);
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
  const auto allocate =
      Bound<decltype(&::AllocateAndInitializeSid)>(hw::NtFunction::kAllocateAndInitializeSid);
  if (allocate == nullptr)
    return false;
  SID_IDENTIFIER_AUTHORITY identifier;
  for (int i = 0; i < 6; ++i)
    identifier.Value[i] = authority[i];
  return allocate(&identifier, count, sub[0], sub[1], sub[2], sub[3], sub[4], sub[5], sub[6],
                  sub[7], sid) != 0;
}

void Win32TokenApi::FreeSid(hw::SidHandle sid) {
  const auto free_sid = Bound<decltype(&::FreeSid)>(hw::NtFunction::kFreeSid);
  if (free_sid != nullptr)
    free_sid(sid);
}

bool Win32TokenApi::EqualSid(const void* first, hw::SidHandle second) {
  const auto equal = Bound<decltype(&::EqualSid)>(hw::NtFunction::kEqualSid);
  return equal != nullptr && equal(const_cast<PSID>(first), second) != 0;
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
  const auto open = Bound<decltype(&::OpenSCManagerA)>(hw::NtFunction::kOpenSCManagerA);
  return open != nullptr ? open(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) : nullptr;
}

hw::ServiceHandle Win32ServiceApi::RegisterService(hw::ServiceHandle manager, const char* name,
                                                   const char* display_name, std::uint32_t access,
                                                   std::uint32_t type, std::uint32_t start,
                                                   std::uint32_t error_control,
                                                   const char* image_path) {
  const auto create = Bound<decltype(&::CreateServiceA)>(hw::NtFunction::kCreateServiceA);
  if (create == nullptr)
    return nullptr;
  return create(static_cast<SC_HANDLE>(manager), name, display_name, access, type, start,
                error_control, image_path, nullptr, nullptr, nullptr, nullptr, nullptr);
}

hw::ServiceHandle Win32ServiceApi::OpenNamedService(hw::ServiceHandle manager, const char* name,
                                                    std::uint32_t access) {
  const auto open = Bound<decltype(&::OpenServiceA)>(hw::NtFunction::kOpenServiceA);
  return open != nullptr ? open(static_cast<SC_HANDLE>(manager), name, access) : nullptr;
}

bool Win32ServiceApi::StartNamedService(hw::ServiceHandle service) {
  const auto start = Bound<decltype(&::StartServiceA)>(hw::NtFunction::kStartServiceA);
  return start != nullptr && start(static_cast<SC_HANDLE>(service), 0, nullptr) != 0;
}

bool Win32ServiceApi::StopNamedService(hw::ServiceHandle service) {
  const auto control = Bound<decltype(&::ControlService)>(hw::NtFunction::kControlService);
  SERVICE_STATUS status;
  return control != nullptr &&
         control(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status) != 0;
}

bool Win32ServiceApi::DeleteNamedService(hw::ServiceHandle service) {
  const auto remove = Bound<decltype(&::DeleteService)>(hw::NtFunction::kDeleteService);
  return remove != nullptr && remove(static_cast<SC_HANDLE>(service)) != 0;
}

void Win32ServiceApi::CloseServiceHandle(hw::ServiceHandle handle) {
  const auto close = Bound<decltype(&::CloseServiceHandle)>(hw::NtFunction::kCloseServiceHandle);
  if (close != nullptr)
    close(static_cast<SC_HANDLE>(handle));
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
