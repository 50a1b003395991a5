#pragma once
// Running the engine harness quillon-relay from a test: its registry settings and its output.
#include <string>
#include <vector>

#include "support/TestEnv.h"

// One DWORD value line of the registry file.
std::string RegistryDword(const char* Name, int V);
// Writes the registry file: SMTP port Port, DNS detection off, both DNS servers at Dns,
// then the value lines in Extra.
void WriteHarnessRegistry(const TTestEnv& Env, int Port, const std::string& Dns, const std::string& Extra = "");
// Runs quillon-relay with Args until it ends by itself, its output (standard output and
// error) in Output; its exit status, or -1 when it was still running after TimeoutMs (it is
// then stopped).
int RunHarnessToEnd(const std::vector<std::string>& Args, std::string& Output, int TimeoutMs = 15000);
// Waits until the harness's output file holds the whole line Line.
bool WaitForOutput(const TTestEnv& Env, const std::string& File, const std::string& Line, int TimeoutMs = 15000);
