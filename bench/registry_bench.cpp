// Cost of the registry file with many values in one key: the first OpenKey (reading and
// parsing the file), reading every value, and writing every value back (one close that
// exports the whole file and replaces it). Usage: registry_bench [N ...] (default 10000 40000).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/Registry.h"

namespace {
const char* const Key = "\\Software\\Nimbrel\\Quillon Pro";

double Seconds(const std::function<void()>& Step) {
  const auto Start = std::chrono::steady_clock::now();
  Step();
  const std::chrono::duration<double> Took = std::chrono::steady_clock::now() - Start;
  return Took.count();
}

void Print(const char* What, int Count, double S) {
  std::printf("%-34s %8d values  %9.3f s  %8.2f us/value\n", What, Count, S, 1e6 * S / Count);
}
}  // namespace

int main(int Argc, char** Argv) {
  std::vector<int> Counts;
  for (int I = 1; I < Argc; ++I) Counts.push_back(std::atoi(Argv[I]));
  if (Counts.empty()) Counts = {10000, 40000};
  std::string Root = (std::filesystem::temp_directory_path() / "quillon-regbench-XXXXXX").string();
  if (!mkdtemp(Root.data())) return 1;
  setenv("XDG_CONFIG_HOME", Root.c_str(), 1);
  std::filesystem::create_directories(Root + "/quillon");

  for (int N : Counts) {
    {
      std::ofstream F(TRegistry::FileName(), std::ios::binary | std::ios::trunc);
      F << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n";
      for (int I = 0; I < N; ++I) F << "\"Value" << I << "\"=\"text of value " << I << "\"\r\n";
    }
    TRegistry::ResetForTests();
    TRegistry R;
    bool Ok = true;
    Print("open (read and parse the file)", N, Seconds([&] { Ok = R.OpenKey(Key, false); }));
    if (!Ok) {
      std::fprintf(stderr, "the registry file could not be read\n");
      return 1;
    }
    size_t Total = 0;
    Print("read every value", N, Seconds([&] {
            for (int I = 0; I < N; ++I) Total += R.ReadString("Value" + std::to_string(I)).size();
          }));
    Print("write every value and close", N, Seconds([&] {
            for (int I = 0; I < N; ++I) R.WriteString("Value" + std::to_string(I), "new text " + std::to_string(I));
            R.CloseKey();
          }));
    if (Total == 0) return 1;
  }
  std::filesystem::remove_all(Root);
  return 0;
}
