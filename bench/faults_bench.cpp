// Cost of the fault seam while the machine profile asks for no faults: the check alone and a
// registry open and close, which the filter makes some 300 times a request.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/faults.h"
#include "platform/machine.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

class Machine {
 public:
  Machine() {
    char pattern[] = "/tmp/minutrix-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    std::ofstream(root_ / "machine.ini") << "[Windows]\r\nComputerName=BENCH\r\n";
    platform::SetMachineRoot(root_);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
  }
  ~Machine() {
    platform::SetMachineRoot("");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

 private:
  fs::path root_;
};

void BM_FaultCheckWhenOff(benchmark::State& state) {
  Machine machine;
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::InjectedFault(platform::FaultOp::kRegOpenKey));
  }
}
BENCHMARK(BM_FaultCheckWhenOff);

void BM_RegistryOpenCloseWhenOff(benchmark::State& state) {
  Machine machine;
  for (auto _ : state) {
    HKEY key = nullptr;
    benchmark::DoNotOptimize(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, KEY_READ, &key));
    RegCloseKey(key);
  }
}
BENCHMARK(BM_RegistryOpenCloseWhenOff);

}  // namespace

BENCHMARK_MAIN();
