// Helpers shared by the add-in's tests: the registry as it stands, and programs run to their end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

std::string ExeDir();
std::string BinPath(const char* name);

bool KeyExists(HKEY root, const std::string& path);
// Default value (or a named one) of a key; "<missing>" when it cannot be read.
std::string ReadString(HKEY root, const std::string& path, const char* name = nullptr);
std::vector<std::string> SubkeyNames(HKEY root, const std::string& path);
// Names of the key's values; "" stands for the default value.
std::vector<std::string> ValueNames(HKEY root, const std::string& path);
std::vector<std::string> ReadMultiString(HKEY root, const std::string& path, const char* name);
void DeleteTree(HKEY root, const std::string& path);
bool CreateKey(HKEY root, const std::string& path);
void WriteString(HKEY root, const std::string& path, const char* name, const std::string& value);

struct ProgramResult {
    DWORD exitCode;
    std::string output;
};
// Runs a command line to its end with its output in a file (never a pipe under Wine).
ProgramResult RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);
// Starts the program with its output going to outPath; its process handle, or null.
HANDLE StartProgram(const std::string& commandLine, const std::string& outPath);

}  // namespace testing_support
