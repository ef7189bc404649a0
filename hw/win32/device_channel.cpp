#include "hw/win32/device_channel.h"

#include <cstdarg>
#include <cstddef>

#include "hw/win32/device_io.h"
#include "hw/win32/win32_dmi_platform.h"
#include "protocol/win32_numbers.h"
#include "protocol/device_protocol.h"

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

namespace hw {
namespace {

// Formats like wsprintfA and sends the text to the debugger; the user never sees it.
void DriverTrace(const char* format, ...) {
  // wvsprintfA writes at most 1024 characters, terminator included.
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  wvsprintfA(text, format, arguments);
  va_end(arguments);
  OutputDebugStringA(text);
}

int Probe(HANDLE channel, DWORD code, std::uint16_t* probe_word) {
  return SendDeviceRequest(channel, code, probe_word, kProbeWordSize, probe_word, kProbeWordSize)
             ? 1
             : 0;
}

std::uint16_t ReadIdentity(HANDLE channel, const DmiTableRequests& requests,
                           DmiAddressSpace& addresses, BoardIdentity& identity) {
  ChannelDevice device(channel);
  GlobalMemory memory;
  DebuggerOutput debug;
  const DmiPlatform platform{device, addresses, memory, debug};
  return ReadBoardIdentity(platform, requests, identity);
}
}  // namespace

void* Advapi32Binder::Find(const char* name) {
  const HMODULE advapi32 = GetModuleHandleA("ADVAPI32.DLL");
  return advapi32 != nullptr ? reinterpret_cast<void*>(GetProcAddress(advapi32, name)) : nullptr;
}

void* NtCalls::Address(NtFunction function) {
  void* address = functions_.Address(function);
  if (address == nullptr)
    SetLastError(ERROR_PROC_NOT_FOUND);
  return address;
}

// Token.

bool Win32TokenApi::OpenThreadToken(TokenHandle* token) {
  const auto open = Bound<decltype(&::OpenThreadToken)>(NtFunction::kOpenThreadToken);
  return open != nullptr && open(GetCurrentThread(), TOKEN_QUERY, FALSE, token) != 0;
}

bool Win32TokenApi::OpenProcessToken(TokenHandle* token) {
  const auto open = Bound<decltype(&::OpenProcessToken)>(NtFunction::kOpenProcessToken);
  return open != nullptr && open(GetCurrentProcess(), TOKEN_QUERY, token) != 0;
}

std::uint32_t Win32TokenApi::LastError() {
  return GetLastError();
}

bool Win32TokenApi::QueryGroups(TokenHandle token, void* buffer, std::uint32_t size,
                                std::uint32_t* returned) {
  const auto query = Bound<decltype(&::GetTokenInformation)>(NtFunction::kGetTokenInformation);
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
                                const std::uint32_t (&sub)[8], SidHandle* sid) {
  const auto allocate =
      Bound<decltype(&::AllocateAndInitializeSid)>(NtFunction::kAllocateAndInitializeSid);
  if (allocate == nullptr)
    return false;
  SID_IDENTIFIER_AUTHORITY identifier;
  for (int i = 0; i < 6; ++i)
    identifier.Value[i] = authority[i];
  return allocate(&identifier, count, sub[0], sub[1], sub[2], sub[3], sub[4], sub[5], sub[6],
                  sub[7], sid) != 0;
}

void Win32TokenApi::FreeSid(SidHandle sid) {
  const auto free_sid = Bound<decltype(&::FreeSid)>(NtFunction::kFreeSid);
  if (free_sid != nullptr)
    free_sid(sid);
}

bool Win32TokenApi::EqualSid(const void* first, SidHandle second) {
  const auto equal = Bound<decltype(&::EqualSid)>(NtFunction::kEqualSid);
  return equal != nullptr && equal(const_cast<PSID>(first), second) != 0;
}

void Win32TokenApi::CloseToken(TokenHandle token) {
  CloseHandle(token);
}

// Service control manager, files and the prompt. The device and image opens go through the
// device calls, which a test build answers itself.

std::uint32_t Win32ServiceApi::LastError() {
  return GetLastError();
}

DeviceHandle Win32ServiceApi::OpenFile(const char* path, std::uint32_t access) {
  return OpenDeviceFile(path, access, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

void Win32ServiceApi::CloseFile(DeviceHandle file) {
  CloseHandle(file);
}

std::uint32_t Win32ServiceApi::CurrentDirectory(std::uint32_t size, char* buffer) {
  return GetCurrentDirectoryA(size, buffer);
}

ServiceHandle Win32ServiceApi::OpenServiceManager() {
  const auto open = Bound<decltype(&::OpenSCManagerA)>(NtFunction::kOpenSCManagerA);
  return open != nullptr ? open(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) : nullptr;
}

ServiceHandle Win32ServiceApi::RegisterService(ServiceHandle manager, const char* name,
                                               const char* display_name, std::uint32_t access,
                                               std::uint32_t type, std::uint32_t start,
                                               std::uint32_t error_control,
                                               const char* image_path) {
  const auto create = Bound<decltype(&::CreateServiceA)>(NtFunction::kCreateServiceA);
  if (create == nullptr)
    return nullptr;
  return create(static_cast<SC_HANDLE>(manager), name, display_name, access, type, start,
                error_control, image_path, nullptr, nullptr, nullptr, nullptr, nullptr);
}

ServiceHandle Win32ServiceApi::OpenNamedService(ServiceHandle manager, const char* name,
                                                std::uint32_t access) {
  const auto open = Bound<decltype(&::OpenServiceA)>(NtFunction::kOpenServiceA);
  return open != nullptr ? open(static_cast<SC_HANDLE>(manager), name, access) : nullptr;
}

bool Win32ServiceApi::StartNamedService(ServiceHandle service) {
  const auto start = Bound<decltype(&::StartServiceA)>(NtFunction::kStartServiceA);
  return start != nullptr && start(static_cast<SC_HANDLE>(service), 0, nullptr) != 0;
}

bool Win32ServiceApi::StopNamedService(ServiceHandle service) {
  const auto control = Bound<decltype(&::ControlService)>(NtFunction::kControlService);
  SERVICE_STATUS status;
  return control != nullptr &&
         control(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status) != 0;
}

bool Win32ServiceApi::DeleteNamedService(ServiceHandle service) {
  const auto remove = Bound<decltype(&::DeleteService)>(NtFunction::kDeleteService);
  return remove != nullptr && remove(static_cast<SC_HANDLE>(service)) != 0;
}

void Win32ServiceApi::CloseServiceHandle(ServiceHandle handle) {
  const auto close = Bound<decltype(&::CloseServiceHandle)>(NtFunction::kCloseServiceHandle);
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

int OpenVxdChannel(win32::KernelHandle& channel) {
  // Access 0 and creation disposition 0 are what a dynamic VxD open takes.
  *channel.receive() = OpenDeviceFile(kVxdDevicePath, 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
  return channel.get() != INVALID_HANDLE_VALUE ? 1 : 0;
}

int ProbeDriverChannel(HANDLE channel, std::uint16_t* probe_word) {
  return Probe(channel, kNtProbeRequest, probe_word);
}

int ProbeVxdChannel(HANDLE channel, std::uint16_t* probe_word) {
  return Probe(channel, kVxdProbeRequest, probe_word);
}

// Each family reads the table's pages with the readability check that holds there
// (hw/win32/win32_dmi_platform.h).
std::uint16_t ReadBoardIdentityNt(HANDLE channel, BoardIdentity& identity) {
  ProcessAddressSpace addresses;
  return ReadIdentity(channel, kNtTableRequests, addresses, identity);
}

std::uint16_t ReadBoardIdentityVxd(HANDLE channel, BoardIdentity& identity) {
  Win9xAddressSpace addresses;
  return ReadIdentity(channel, kVxdTableRequests, addresses, identity);
}

}  // namespace hw
