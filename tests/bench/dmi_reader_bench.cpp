// Reader time per real table: one whole ReadBoardIdentity (get-table, join, walk, extraction,
// release) against the simulated driver, with the table already mapped. Tables come from the
// external corpus when it is present, else from the tables shipped in tests/data.
//
//   dmi_reader_bench [--page-offset=N] [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dmi/dmi_reader.h"
#include "dmi/host/sim_driver.h"
#include "dmi/host/table_file.h"

namespace {

std::vector<std::string> TableFiles() {
  std::vector<std::string> files;
  const std::string corpus = ZYN_CORPUS_DIR;
  std::ifstream index(corpus + "/INDEX.tsv");
  std::string line;
  if (index && std::getline(index, line)) {
    while (std::getline(index, line))
      files.push_back(corpus + "/" + line.substr(0, line.find('\t')));
    return files;
  }
  for (const char* name :
       {"lenovo-thinkpad-w510.bin", "vmware-virtual-platform.table", "asrock-x399-taichi.table"}) {
    files.push_back(std::string(ZYN_TEST_TABLES) + "/" + name);
  }
  return files;
}

void ReadTable(benchmark::State& state, SimTable table) {
  SimAddressSpace space;
  SimDevice device;
  SimAllocator memory;
  SimDebugOutput debug;
  PlaceSimTable(table, space, device);
  const DmiPlatform platform{device, space, memory, debug};
  BoardIdentity identity{};
  std::uint16_t status = 0;
  for (auto _ : state) {
    ResetDmiReaderState();
    status = ReadBoardIdentity(platform, kNtTableRequests, identity);
    benchmark::DoNotOptimize(identity);
    device.requests.clear();
    debug.lines.clear();
    memory.sizes.clear();
  }
  state.counters["bytes"] = static_cast<double>(table.bytes.size());
  state.counters["found"] = identity.product[0] != '\0' || identity.manufacturer[0] != '\0';
  state.counters["status"] = status;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t page_offset = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--page-offset=", 14) == 0) {
      page_offset = static_cast<std::uint32_t>(std::stoul(argv[i] + 14)) % 4096;
    }
  }
  for (const std::string& path : TableFiles()) {
    TableFile file;
    std::string error;
    if (!LoadTableFile(path, file, error))
      continue;
    SimTable table;
    table.structure_count = file.structure_count;
    table.bytes = std::move(file.table);
    table.page_offset = page_offset;
    const std::size_t slash = path.rfind('/', path.rfind('/') - 1);
    benchmark::RegisterBenchmark(("read/" + path.substr(slash + 1)).c_str(), ReadTable, table);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
