// Everything the identification flow asks of the platform and of the user interface.
//
// The flow itself is portable C++ that decides what happens in which order; the Windows program
// implements these ports with the real calls (IdUtilityApp), and the unit tests with fakes that
// record every call and hand out failures.
#pragma once

#include <cstdint>
#include <string>

#include "dmi/dmi_reader.h"

// An opaque platform handle (a HANDLE or HMODULE on Windows). Null means "none".
using PlatformHandle = void*;

class FlowPorts {
 public:
  virtual ~FlowPorts() = default;

  // Start-up switches of the UI layer: hosting of embedded controls, then the 3-D look.
  virtual void EnableControlHosting() = 0;
  virtual void Enable3dControls() = 0;

  // GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_ILANGUAGE) into 5 characters; false on failure.
  virtual bool QuerySystemLanguage(char (&text)[5]) = 0;
  // HKEY_LOCAL_MACHINE\subkey, value name, into buffer of size bytes; true when read.
  virtual bool ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                                  std::uint32_t size) = 0;
  // LoadLibraryA of a full path, used as a resource source only; null when it cannot be loaded.
  virtual PlatformHandle LoadResourceLibrary(const char* path) = 0;
  // Makes the loaded library the source of every dialog template, string and icon.
  virtual void SetResourceSource(PlatformHandle library) = 0;
  // String `id` of the current resource source; empty when there is none.
  virtual std::string LoadResourceString(unsigned id) = 0;

  // FindWindowA(NULL, title): true when a top-level window with that title exists.
  virtual bool TopLevelWindowExists(const std::string& title) = 0;

  // Opens an existing file for reading without sharing; null when it cannot be opened.
  virtual PlatformHandle OpenLicenseFile(const char* path) = 0;
  virtual void CloseLicenseFile(PlatformHandle file) = 0;
  // Agreement dialog (108), no owner, shown modally with the open license file. Returns the
  // dialog's result: 1 (IDOK) when accepted; anything else declines, including a dialog that
  // could not be built or a license that could not be read.
  virtual int RunAgreementDialog(PlatformHandle license_file) = 0;

  // dwPlatformId from GetVersionExA with an OSVERSIONINFOA of size 148. 2 is the NT family.
  virtual std::uint32_t QueryPlatformId() = 0;

  // Hardware road. Results as the flow relies on them: non-zero is success.
  virtual int CheckAdministratorMembership() = 0;
  virtual int OpenDriverChannel() = 0;  // NT
  virtual int OpenVxdChannel() = 0;     // 9x
  virtual int ProbeDriverChannel(std::uint16_t* probe_word) = 0;
  virtual int ProbeVxdChannel(std::uint16_t* probe_word) = 0;
  virtual std::uint16_t ReadBoardIdentityNt(BoardIdentity& identity) = 0;
  virtual std::uint16_t ReadBoardIdentityVxd(BoardIdentity& identity) = 0;
  virtual void RemoveDriverService() = 0;  // NT teardown: close, stop, delete
  virtual void CloseDeviceChannel() = 0;   // 9x teardown: CloseHandle unloads the VxD

  // Result dialog (101), no owner, made the main window, shown modally; its result is ignored.
  virtual void RunResultDialog(const std::string& manufacturer, const std::string& product,
                               const std::string& verdict) = 0;
  // Modal message box without owner: string `id`, OK, exclamation icon, caption = the program's
  // file name without extension.
  virtual void ShowMessage(unsigned string_id) = 0;
};
