// A FlowPorts that records every call, in order, as one line of text, and answers from settings
// that a test changes to make any step fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/flow_ports.h"

class FakeFlowPorts : public FlowPorts {
 public:
  // Answers. The defaults make one complete, successful run on the NT family in English.
  std::optional<std::string> locale_text = std::string("0409");  // nullopt: the query fails
  // The registry value as stored; nullopt: missing. A value longer than the caller's buffer
  // fails, as the registry does.
  std::optional<std::string> target_dir = std::string("C:\\ZYN");
  bool target_dir_unterminated = false;  // fills the whole buffer without a terminator
  bool library_loads = true;
  std::map<unsigned, std::string> strings = {{1, "About ZYN ID Utility..."},
                                             {2, "channel"},
                                             {3, "both bytes set"},
                                             {4, "other verdict"},
                                             {5, "NT read"},
                                             {6, "VxD open"},
                                             {7, "VxD read"},
                                             {8, "ZYN ID Utility"},
                                             {9, "not admin"}};
  bool instance_running = false;
  bool license_opens = true;
  int agreement_answer = 1;
  std::uint32_t platform_id = 2;
  int is_administrator = 1;
  int driver_opens = 1;
  int vxd_opens = 1;
  int probe_succeeds = 1;
  std::uint16_t probe_answer = 0x0101;
  std::uint16_t table_status = 0;
  BoardIdentity table = MakeIdentity("P5Z-Board", "Orvex Boards");  // written on status 0

  // What happened.
  std::vector<std::string> calls;
  int open_license_files = 0;

  static BoardIdentity MakeIdentity(const char* product, const char* manufacturer) {
    BoardIdentity identity = {};
    std::strncpy(identity.product, product, sizeof identity.product - 1);
    std::strncpy(identity.manufacturer, manufacturer, sizeof identity.manufacturer - 1);
    return identity;
  }

  void EnableControlHosting() override { calls.push_back("EnableControlHosting"); }
  void Enable3dControls() override { calls.push_back("Enable3dControls"); }

  bool QuerySystemLanguage(char (&text)[5]) override {
    calls.push_back("QuerySystemLanguage");
    // On failure the buffer still holds something, which must not be used.
    const std::string answer = locale_text.value_or("0411");
    std::memset(text, 0, sizeof text);
    std::memcpy(text, answer.data(), std::min(answer.size(), sizeof text));
    return locale_text.has_value();
  }

  bool ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                          std::uint32_t size) override {
    calls.push_back(std::string("ReadRegistryString ") + subkey + " " + value_name + " " +
                    std::to_string(size));
    if (!target_dir)
      return false;
    if (target_dir_unterminated) {
      std::memset(buffer, 'D', size);
      return true;
    }
    if (target_dir->size() + 1 > size)
      return false;
    std::memcpy(buffer, target_dir->c_str(), target_dir->size() + 1);
    return true;
  }

  PlatformHandle LoadResourceLibrary(const char* path) override {
    calls.push_back(std::string("LoadResourceLibrary ") + path);
    return library_loads ? &library_ : nullptr;
  }
  void SetResourceSource(PlatformHandle library) override {
    calls.push_back(library == &library_ ? "SetResourceSource library" : "SetResourceSource ?");
    source_set_ = library == &library_;
  }
  std::string LoadResourceString(unsigned id) override {
    calls.push_back("LoadResourceString " + std::to_string(id));
    if (!source_set_)
      return "";  // the program's own module holds no resources
    auto it = strings.find(id);
    return it == strings.end() ? "" : it->second;
  }

  bool TopLevelWindowExists(const std::string& title) override {
    calls.push_back("TopLevelWindowExists \"" + title + "\"");
    return instance_running;
  }

  PlatformHandle OpenLicenseFile(const char* path) override {
    calls.push_back(std::string("OpenLicenseFile ") + path);
    if (!license_opens)
      return nullptr;
    ++open_license_files;
    return &license_;
  }
  void CloseLicenseFile(PlatformHandle file) override {
    calls.push_back(file == &license_ ? "CloseLicenseFile" : "CloseLicenseFile ?");
    --open_license_files;
  }
  int RunAgreementDialog(PlatformHandle license_file) override {
    calls.push_back(license_file == &license_ ? "RunAgreementDialog" : "RunAgreementDialog ?");
    if (!source_set_)
      return -1;  // template 108 is missing: the dialog cannot be built
    return agreement_answer;
  }

  std::uint32_t QueryPlatformId() override {
    calls.push_back("QueryPlatformId");
    return platform_id;
  }

  int CheckAdministratorMembership() override {
    calls.push_back("CheckAdministratorMembership");
    return is_administrator;
  }
  int OpenDriverChannel() override {
    calls.push_back("OpenDriverChannel");
    return driver_opens;
  }
  int OpenVxdChannel() override {
    calls.push_back("OpenVxdChannel");
    return vxd_opens;
  }
  int ProbeDriverChannel(std::uint16_t* probe_word) override {
    calls.push_back("ProbeDriverChannel");
    return Probe(probe_word);
  }
  int ProbeVxdChannel(std::uint16_t* probe_word) override {
    calls.push_back("ProbeVxdChannel");
    return Probe(probe_word);
  }
  std::uint16_t ReadBoardIdentityNt(BoardIdentity& identity) override {
    calls.push_back("ReadBoardIdentityNt");
    return ReadTable(identity);
  }
  std::uint16_t ReadBoardIdentityVxd(BoardIdentity& identity) override {
    calls.push_back("ReadBoardIdentityVxd");
    return ReadTable(identity);
  }
  void RemoveDriverService() override { calls.push_back("RemoveDriverService"); }
  void CloseDeviceChannel() override { calls.push_back("CloseDeviceChannel"); }

  void RunResultDialog(const std::string& manufacturer, const std::string& product,
                       const std::string& verdict) override {
    calls.push_back("RunResultDialog " + manufacturer + " | " + product + " | " + verdict);
  }
  void ShowMessage(unsigned string_id) override {
    calls.push_back("ShowMessage " + std::to_string(string_id));
  }

 private:
  int Probe(std::uint16_t* probe_word) {
    if (probe_succeeds != 0)
      *probe_word = probe_answer;
    return probe_succeeds;
  }
  std::uint16_t ReadTable(BoardIdentity& identity) {
    // A failing read may have filled the identity already; an empty table leaves it alone.
    if (table_status != 3)
      identity = table;
    return table_status;
  }

  int library_ = 0;
  int license_ = 0;
  bool source_set_ = false;
};
