#include "test_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace testing_support {

std::string ExeDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/"));
}

std::string BinPath(const char* name) { return ExeDir() + "\\" + name; }

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string ReadString(HKEY root, const std::string& path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    char buffer[2048] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return buffer;
}

namespace {

// Names that `next` gives for index 0, 1, ... until it fails: subkeys or values.
template <typename Next>
std::vector<std::string> Names(HKEY root, const std::string& path, Next next) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (next(key, i, name, &length) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

}  // namespace

std::vector<std::string> SubkeyNames(HKEY root, const std::string& path) {
    return Names(root, path, [](HKEY key, DWORD i, char* name, DWORD* length) {
        return RegEnumKeyExA(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
    return Names(root, path, [](HKEY key, DWORD i, char* name, DWORD* length) {
        return RegEnumValueA(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::string> ReadMultiString(HKEY root, const std::string& path, const char* name) {
    std::vector<std::string> strings;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
    std::vector<char> buffer(16384, '\0');
    DWORD size = static_cast<DWORD>(buffer.size() - 2);
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_MULTI_SZ) return strings;
    for (const char* p = buffer.data(); *p; p += std::string(p).size() + 1) strings.push_back(p);
    return strings;
}

void DeleteTree(HKEY root, const std::string& path) {
    RegDeleteTreeA(root, path.c_str());
    RegDeleteKeyA(root, path.c_str());
}

bool CreateKey(HKEY root, const std::string& path) {
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void WriteString(HKEY root, const std::string& path, const char* name, const std::string& value) {
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

HANDLE StartProgram(const std::string& commandLine, const std::string& outPath) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string line = commandLine;
    bool started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!started) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

ProgramResult RunProgram(const std::string& commandLine, DWORD timeoutMs) {
    char tempDir[MAX_PATH];
    char tempFile[MAX_PATH];
    GetTempPathA(MAX_PATH, tempDir);
    GetTempFileNameA(tempDir, "ovt", 0, tempFile);
    ProgramResult result = {static_cast<DWORD>(-1), std::string()};
    if (HANDLE process = StartProgram(commandLine, tempFile)) {
        WaitForSingleObject(process, timeoutMs);
        GetExitCodeProcess(process, &result.exitCode);
        CloseHandle(process);
    }
    std::ifstream in(tempFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    in.close();
    DeleteFileA(tempFile);
    return result;
}

}  // namespace testing_support
