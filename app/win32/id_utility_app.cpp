#include "app/win32/id_utility_app.h"

#include "app/win32/zynid_dialogs.h"
#include "app/identification_flow.h"
#include "app/win32/resource_source.h"
#include "hw/win32/device_channel.h"

IdUtilityApp::IdUtilityApp() = default;

IdUtilityApp::~IdUtilityApp() = default;

int IdUtilityApp::RunIdentificationFlow() {
  const int result = ::RunIdentificationFlow(*this);
  // Only a shown result tears the channel down. When the probe or the table failed, the flow
  // ends with the channel open on purpose: the handle goes with the process, which ends as soon
  // as this returns, and on the NT family the service stays running for the next run to find.
  // Released here, so that destroying this object at the end does not close it either.
  DeviceChannel.Release();
  return result;
}

void IdUtilityApp::EnableControlHosting() {
  ui::EnableControlHosting();
}

void IdUtilityApp::Enable3dControls() {
  ui::Enable3dControls();
}

bool IdUtilityApp::QuerySystemLanguage(char (&text)[5]) {
  return GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_ILANGUAGE, text, sizeof text) != 0;
}

bool IdUtilityApp::ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                                      std::uint32_t size) {
  // The create-or-open call: where the user may create keys, a missing subkey is left behind
  // empty. Only the right to query values is asked for.
  win32::RegistryKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                      key.receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD length = size;
  return RegQueryValueExA(key.get(), value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                          &length) == ERROR_SUCCESS;
}

PlatformHandle IdUtilityApp::LoadResourceLibrary(const char* path) {
  return LoadLibraryA(path);
}

void IdUtilityApp::SetResourceSource(PlatformHandle library) {
  ui::SetResourceSource(static_cast<HMODULE>(library));
}

std::string IdUtilityApp::LoadResourceString(unsigned id) {
  return ui::LoadResourceString(id);
}

bool IdUtilityApp::TopLevelWindowExists(const std::string& title) {
  return FindWindowA(nullptr, title.c_str()) != nullptr;
}

PlatformHandle IdUtilityApp::OpenLicenseFile(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file != INVALID_HANDLE_VALUE ? file : nullptr;
}

void IdUtilityApp::CloseLicenseFile(PlatformHandle file) {
  CloseHandle(file);
}

int IdUtilityApp::RunAgreementDialog(PlatformHandle license_file) {
  AgreementDialog dialog(nullptr);
  dialog.set_license_file(license_file);
  return static_cast<int>(dialog.DoModal());
}

std::uint32_t IdUtilityApp::QueryPlatformId() {
  // The original record, without the service-pack fields: 148 bytes, which every family knows.
  static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwPlatformId;
}

int IdUtilityApp::CheckAdministratorMembership() {
  hw::Win32TokenApi api;
  return hw::CheckAdministratorMembership(api);
}

int IdUtilityApp::OpenDriverChannel() {
  hw::Win32ServiceApi api;
  // The not-ready prompt carries the caption of the program's other message boxes.
  return hw::OpenDriverChannel(api, *DeviceChannel.receive(), ui::ProgramName().c_str());
}

int IdUtilityApp::OpenVxdChannel() {
  return hw::OpenVxdChannel(DeviceChannel);
}

int IdUtilityApp::ProbeDriverChannel(std::uint16_t* probe_word) {
  return hw::ProbeDriverChannel(DeviceChannel.get(), probe_word);
}

int IdUtilityApp::ProbeVxdChannel(std::uint16_t* probe_word) {
  return hw::ProbeVxdChannel(DeviceChannel.get(), probe_word);
}

std::uint16_t IdUtilityApp::ReadBoardIdentityNt(BoardIdentity& identity) {
  return hw::ReadBoardIdentityNt(DeviceChannel.get(), identity);
}

std::uint16_t IdUtilityApp::ReadBoardIdentityVxd(BoardIdentity& identity) {
  return hw::ReadBoardIdentityVxd(DeviceChannel.get(), identity);
}

void IdUtilityApp::RemoveDriverService() {
  hw::Win32ServiceApi api;
  hw::RemoveDriverService(api, DeviceChannel);
}

void IdUtilityApp::CloseDeviceChannel() {
  DeviceChannel.Reset();
}

void IdUtilityApp::RunResultDialog(const std::string& manufacturer, const std::string& product,
                                   const std::string& verdict) {
  ResultDialog dialog(nullptr);
  set_main_window(&dialog);
  dialog.manufacturer_text = manufacturer;
  dialog.product_text = product;
  dialog.verdict_text = verdict;
  dialog.DoModal();
  set_main_window(nullptr);
}

void IdUtilityApp::ShowMessage(unsigned string_id) {
  ui::MessageBoxFromString(nullptr, string_id, MB_OK | MB_ICONEXCLAMATION);
}
