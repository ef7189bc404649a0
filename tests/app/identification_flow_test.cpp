#include "app/identification_flow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/language_library.h"
#include "tests/app/fake_flow_ports.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kRegistryRead =
    "ReadRegistryString Software\\Orvex\\ZYN ID Utility TargetDir 260";

Calls Join(Calls head, const Calls& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Everything up to and including the single-instance search, with the English library loaded.
Calls StartUp() {
  return {"EnableControlHosting",
          "Enable3dControls",
          "QuerySystemLanguage",
          kRegistryRead,
          "LoadResourceLibrary C:\\ZYN\\Eng\\ZYNRes.lrc",
          "SetResourceSource library",
          "LoadResourceString 8",
          "TopLevelWindowExists \"ZYN ID Utility\""};
}

// Through the accepted agreement and the platform query.
Calls Accepted() {
  return Join(StartUp(), {kRegistryRead, "OpenLicenseFile C:\\ZYN\\Eng\\license.txt",
                          "RunAgreementDialog", "CloseLicenseFile", "QueryPlatformId"});
}

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLanguageState(); }
  void TearDown() override { ResetLanguageState(); }

  // Runs the flow and checks what every run must hold: it answers 0 and leaves no license open.
  void Run() {
    EXPECT_EQ(RunIdentificationFlow(ports), 0);
    EXPECT_EQ(ports.open_license_files, 0);
  }

  FakeFlowPorts ports;
};

TEST_F(FlowTest, NtRunShowsResultAndRemovesService) {
  Run();
  EXPECT_EQ(ports.calls,
            Join(Accepted(), {"CheckAdministratorMembership", "OpenDriverChannel",
                              "ProbeDriverChannel", "ReadBoardIdentityNt", "LoadResourceString 3",
                              "RunResultDialog Orvex Boards | P5Z-Board | both bytes set",
                              "RemoveDriverService"}));
  EXPECT_NE(ResourceLibraryHandle, nullptr);
}

// Each exit of the flow: the calls made up to it, what it shows, and that nothing after it runs
// (in particular no teardown, so a channel it opened is left open).
struct ExitCase {
  const char* name;
  void (*arrange)(FakeFlowPorts&);
  Calls expected;
};

class FlowExitTest : public FlowTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(FlowExitTest, EndsWithExactlyTheseCalls) {
  GetParam().arrange(ports);
  Run();
  EXPECT_EQ(ports.calls, GetParam().expected);
}

const Calls kNtAdminOpenProbe = {"CheckAdministratorMembership", "OpenDriverChannel",
                                 "ProbeDriverChannel"};
const Calls kVxdOpenProbe = {"OpenVxdChannel", "ProbeVxdChannel"};

INSTANTIATE_TEST_SUITE_P(
    Exits, FlowExitTest,
    ::testing::Values(
        ExitCase{"RunningInstance", [](FakeFlowPorts& p) { p.instance_running = true; },
                 StartUp()},
        ExitCase{"NoInstallDirectory", [](FakeFlowPorts& p) { p.target_dir.reset(); },
                 // No library: the title is empty, and the license path is never built.
                 {"EnableControlHosting", "Enable3dControls", "QuerySystemLanguage", kRegistryRead,
                  "LoadResourceString 8", "TopLevelWindowExists \"\"", kRegistryRead}},
        ExitCase{"NoLicenseFile", [](FakeFlowPorts& p) { p.license_opens = false; },
                 Join(StartUp(), {kRegistryRead, "OpenLicenseFile C:\\ZYN\\Eng\\license.txt"})},
        ExitCase{"Declined", [](FakeFlowPorts& p) { p.agreement_answer = 2; },
                 Join(StartUp(), {kRegistryRead, "OpenLicenseFile C:\\ZYN\\Eng\\license.txt",
                                  "RunAgreementDialog", "CloseLicenseFile"})},
        ExitCase{"AgreementFailedToBuild", [](FakeFlowPorts& p) { p.agreement_answer = -1; },
                 Join(StartUp(), {kRegistryRead, "OpenLicenseFile C:\\ZYN\\Eng\\license.txt",
                                  "RunAgreementDialog", "CloseLicenseFile"})},
        ExitCase{"NoResourceLibrary", [](FakeFlowPorts& p) { p.library_loads = false; },
                 // The subdirectory is chosen, so the license opens; the dialog cannot be built.
                 {"EnableControlHosting", "Enable3dControls", "QuerySystemLanguage", kRegistryRead,
                  "LoadResourceLibrary C:\\ZYN\\Eng\\ZYNRes.lrc", "LoadResourceString 8",
                  "TopLevelWindowExists \"\"", kRegistryRead,
                  "OpenLicenseFile C:\\ZYN\\Eng\\license.txt", "RunAgreementDialog",
                  "CloseLicenseFile"}},
        ExitCase{"NtNotAdministrator", [](FakeFlowPorts& p) { p.is_administrator = 0; },
                 Join(Accepted(), {"CheckAdministratorMembership", "ShowMessage 9"})},
        ExitCase{"NtChannelUnavailable", [](FakeFlowPorts& p) { p.driver_opens = 0; },
                 Join(Accepted(),
                      {"CheckAdministratorMembership", "OpenDriverChannel", "ShowMessage 2"})},
        ExitCase{"NtProbeFailed", [](FakeFlowPorts& p) { p.probe_succeeds = 0; },
                 Join(Accepted(), Join(kNtAdminOpenProbe, {"ShowMessage 5"}))},
        ExitCase{"NtTableFailed", [](FakeFlowPorts& p) { p.table_status = 1; },
                 Join(Accepted(),
                      Join(kNtAdminOpenProbe, {"ReadBoardIdentityNt", "ShowMessage 5"}))},
        ExitCase{"VxdChannelUnavailable",
                 [](FakeFlowPorts& p) {
                   p.platform_id = 1;
                   p.vxd_opens = 0;
                 },
                 Join(Accepted(), {"OpenVxdChannel", "ShowMessage 6"})},
        ExitCase{"VxdProbeFailed",
                 [](FakeFlowPorts& p) {
                   p.platform_id = 1;
                   p.probe_succeeds = 0;
                 },
                 Join(Accepted(), Join(kVxdOpenProbe, {"ShowMessage 7"}))},
        ExitCase{"VxdTableFailed",
                 [](FakeFlowPorts& p) {
                   p.platform_id = 1;
                   p.table_status = 2;
                 },
                 Join(Accepted(), Join(kVxdOpenProbe, {"ReadBoardIdentityVxd", "ShowMessage 7"}))},
        ExitCase{"VxdResultShown", [](FakeFlowPorts& p) { p.platform_id = 1; },
                 Join(Accepted(),
                      Join(kVxdOpenProbe,
                           {"ReadBoardIdentityVxd", "LoadResourceString 3",
                            "RunResultDialog Orvex Boards | P5Z-Board | both bytes set",
                            "CloseDeviceChannel"}))}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

// The reader's statuses: 0 and 3 show the result and tear down; every other status is a failure,
// even when the identity was filled already. Both families, and every non-NT platform id.
struct StatusCase {
  std::uint32_t platform_id;
  std::uint16_t status;
  bool shows_result;
};

class FlowStatusTest : public FlowTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(FlowStatusTest, ResultOnlyForTableReadOrEmpty) {
  const StatusCase c = GetParam();
  ports.platform_id = c.platform_id;
  ports.table_status = c.status;
  Run();
  const bool nt = c.platform_id == 2;
  const std::string last = ports.calls.back();
  if (c.shows_result) {
    EXPECT_EQ(last, nt ? "RemoveDriverService" : "CloseDeviceChannel");
    const std::string& dialog = ports.calls[ports.calls.size() - 2];
    EXPECT_EQ(dialog, c.status == 3 ? "RunResultDialog  |  | both bytes set"
                                    : "RunResultDialog Orvex Boards | P5Z-Board | both bytes set");
  } else {
    EXPECT_EQ(last, nt ? "ShowMessage 5" : "ShowMessage 7");
  }
}

INSTANTIATE_TEST_SUITE_P(Statuses, FlowStatusTest,
                         ::testing::Values(StatusCase{2, 0, true}, StatusCase{2, 3, true},
                                           StatusCase{2, 1, false}, StatusCase{2, 2, false},
                                           StatusCase{2, 0xFF, false}, StatusCase{2, 0xFFFF, false},
                                           StatusCase{0, 0, true}, StatusCase{1, 3, true},
                                           StatusCase{3, 0, true}, StatusCase{0, 1, false},
                                           StatusCase{1, 2, false}, StatusCase{1, 0xFFFF, false}));

// Verdict: string 3 only when both bytes of the probe word are non-zero.
class FlowVerdictTest : public FlowTest,
                        public ::testing::WithParamInterface<std::pair<std::uint16_t, unsigned>> {};

TEST_P(FlowVerdictTest, ChosenFromProbeWord) {
  const auto [probe, string_id] = GetParam();
  for (std::uint32_t platform_id : {2u, 1u}) {
    FakeFlowPorts run;
    run.platform_id = platform_id;
    run.probe_answer = probe;
    ResetLanguageState();
    RunIdentificationFlow(run);
    const Calls& calls = run.calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3], "LoadResourceString " + std::to_string(string_id));
    EXPECT_EQ(calls[calls.size() - 2],
              "RunResultDialog Orvex Boards | P5Z-Board | " + run.strings[string_id]);
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, FlowVerdictTest,
                         ::testing::Values(std::make_pair(std::uint16_t{0x0101}, 3u),
                                           std::make_pair(std::uint16_t{0xFFFF}, 3u),
                                           std::make_pair(std::uint16_t{0x8001}, 3u),
                                           std::make_pair(std::uint16_t{0x0100}, 4u),
                                           std::make_pair(std::uint16_t{0x0001}, 4u),
                                           std::make_pair(std::uint16_t{0x0000}, 4u),
                                           std::make_pair(std::uint16_t{0xFF00}, 4u)));

TEST_F(FlowTest, ResultShowsManufacturerAndProductFromTheirFields) {
  ports.table = FakeFlowPorts::MakeIdentity("Product", "Maker");
  Run();
  EXPECT_EQ(ports.calls[ports.calls.size() - 2],
            "RunResultDialog Maker | Product | both bytes set");
}

// A field that fills its 128 bytes without a terminator is shown as those 128 bytes: the product
// text must not run on into the manufacturer, nor the manufacturer past the identity.
TEST_F(FlowTest, UnterminatedIdentityFieldsAreReadWithinTheirBytes) {
  std::memset(ports.table.product, 'P', sizeof ports.table.product);
  std::memset(ports.table.manufacturer, 'M', sizeof ports.table.manufacturer);
  Run();
  EXPECT_EQ(ports.calls[ports.calls.size() - 2], "RunResultDialog " + std::string(128, 'M') +
                                                     " | " + std::string(128, 'P') +
                                                     " | both bytes set");
}

TEST_F(FlowTest, InstanceSearchUsesResultTitleAndStopsBeforeTheRegistry) {
  ports.strings[8] = "Board Check";
  ports.instance_running = true;
  Run();
  EXPECT_EQ(ports.calls.back(), "TopLevelWindowExists \"Board Check\"");
}

// Path composition in the 260-byte install-directory buffer. "\Eng\license.txt" is 16 bytes and
// "\Eng\ZYNRes.lrc" 15, so 243 characters of TargetDir is the longest that fits both paths and
// 244 the longest that still fits the library path.
class FlowPathTest : public FlowTest {
 protected:
  std::string Dir(std::size_t length) { return "C:" + std::string(length - 2, 'd'); }
};

TEST_F(FlowPathTest, TrailingBackslashIsUsedAsStored) {
  ports.target_dir = "C:\\ZYN\\";
  Run();
  EXPECT_EQ(ports.calls[4], "LoadResourceLibrary C:\\ZYN\\\\Eng\\ZYNRes.lrc");
  EXPECT_EQ(ports.calls[9], "OpenLicenseFile C:\\ZYN\\\\Eng\\license.txt");
}

TEST_F(FlowPathTest, LongestTargetDirFitsBothPaths) {
  ports.target_dir = Dir(243);
  Run();
  EXPECT_EQ(ports.calls[4], "LoadResourceLibrary " + Dir(243) + "\\Eng\\ZYNRes.lrc");
  EXPECT_EQ(ports.calls[9], "OpenLicenseFile " + Dir(243) + "\\Eng\\license.txt");
  EXPECT_EQ(ports.calls.back(), "RemoveDriverService");
}

TEST_F(FlowPathTest, OneMoreByteEndsSilentlyAtTheLicensePath) {
  ports.target_dir = Dir(244);
  Run();
  EXPECT_EQ(
      ports.calls,
      Join({"EnableControlHosting", "Enable3dControls", "QuerySystemLanguage", kRegistryRead,
            "LoadResourceLibrary " + Dir(244) + "\\Eng\\ZYNRes.lrc", "SetResourceSource library",
            "LoadResourceString 8", "TopLevelWindowExists \"ZYN ID Utility\""},
           {kRegistryRead}));
}

TEST_F(FlowPathTest, LibraryPathThatDoesNotFitLoadsNothing) {
  for (std::size_t length : {245u, 259u}) {
    FakeFlowPorts run;
    run.target_dir = Dir(length);
    ResetLanguageState();
    EXPECT_EQ(RunIdentificationFlow(run), 0);
    EXPECT_EQ(run.calls, Calls({"EnableControlHosting", "Enable3dControls", "QuerySystemLanguage",
                                kRegistryRead, "LoadResourceString 8", "TopLevelWindowExists \"\"",
                                kRegistryRead}))
        << length;
    EXPECT_EQ(ResourceLibraryHandle, nullptr);
  }
}

TEST_F(FlowPathTest, UnterminatedRegistryValueIsNotUsed) {
  ports.target_dir_unterminated = true;
  Run();
  EXPECT_EQ(ports.calls,
            Calls({"EnableControlHosting", "Enable3dControls", "QuerySystemLanguage", kRegistryRead,
                   "LoadResourceString 8", "TopLevelWindowExists \"\"", kRegistryRead}));
  EXPECT_STREQ(LanguageSubdirectory, "");  // as for a value that could not be read
}

// The program looks ADVAPI32's security and service functions up only inside the administrator
// check, the driver channel's open and the service's removal: a system of the 9x family may not
// have them. No run of the 9x road, however it ends, reaches one of these.
TEST_F(FlowTest, NoRunOfThe9xRoadReachesTheNtOperations) {
  const Calls nt_only = {"CheckAdministratorMembership", "OpenDriverChannel",
                         "RemoveDriverService"};
  void (*const endings[])(FakeFlowPorts&) = {
      [](FakeFlowPorts&) {},
      [](FakeFlowPorts& p) { p.vxd_opens = 0; },
      [](FakeFlowPorts& p) { p.probe_succeeds = 0; },
      [](FakeFlowPorts& p) { p.table_status = 1; },
  };
  for (std::uint32_t platform_id : {0u, 1u, 3u, 0xFFFFFFFFu}) {
    for (auto ending : endings) {
      FakeFlowPorts run;
      run.platform_id = platform_id;
      ending(run);
      ResetLanguageState();
      EXPECT_EQ(RunIdentificationFlow(run), 0);
      ASSERT_NE(std::find(run.calls.begin(), run.calls.end(), "OpenVxdChannel"), run.calls.end());
      for (const std::string& call : nt_only) {
        EXPECT_EQ(std::find(run.calls.begin(), run.calls.end(), call), run.calls.end())
            << call << " on platform " << platform_id;
      }
    }
  }
}

}  // namespace
