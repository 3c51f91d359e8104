// The spool's file seam over the Win32 file API.
#include "spool_files.h"

#include <windows.h>

#include "ovwin/handles.h"

using namespace ovwin;

namespace {

struct FindTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};
using UniqueFind = UniqueHandle<HANDLE, FindTraits>;

// Reads and deletes may happen while the file is open elsewhere in the process.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

class Win32File : public ISpoolFile {
public:
    Win32File(UniqueFile file, std::uint64_t size) : m_file(std::move(file)), m_end(size) {}

    // At the end this object keeps, with an explicit offset: reads through the same handle move
    // its file pointer.
    bool Append(const void* data, std::size_t size) override {
        OVERLAPPED at = At(m_end);
        DWORD written = 0;
        BOOL ok = WriteFile(m_file.get(), data, static_cast<DWORD>(size), &written, &at);
        m_end += written;
        return ok && written == size;
    }
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
        *got = 0;
        while (*got < size) {
            OVERLAPPED at = At(offset + *got);
            DWORD n = 0;
            if (!ReadFile(m_file.get(), static_cast<char*>(data) + *got, static_cast<DWORD>(size - *got), &n,
                          &at))
                return GetLastError() == ERROR_HANDLE_EOF;  // a read from the end of the file
            if (n == 0) break;
            *got += n;
        }
        return true;
    }
    bool Flush() override { return FlushFileBuffers(m_file.get()) != FALSE; }
    bool Size(std::uint64_t* size) override {
        LARGE_INTEGER n;
        if (!GetFileSizeEx(m_file.get(), &n)) return false;
        *size = static_cast<std::uint64_t>(n.QuadPart);
        return true;
    }

private:
    UniqueFile m_file;
    std::uint64_t m_end;
};

class Win32Folder : public ISpoolFolder {
public:
    explicit Win32Folder(const std::string& path) : m_path(path, "\\/") {}

    bool Create() override {
        if (CreateDirectoryA(m_path.folder(), nullptr)) return true;
        DWORD attributes = GetFileAttributesA(m_path.folder());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool List(std::vector<std::string>* names) override {
        names->clear();
        WIN32_FIND_DATAA found;
        UniqueFind find(FindFirstFileA(m_path.Of("*").c_str(), &found));
        if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(found.cFileName);
        } while (FindNextFileA(find.get(), &found));
        return GetLastError() == ERROR_NO_MORE_FILES;
    }
    std::unique_ptr<ISpoolFile> Open(const std::string& name, bool create) override {
        return OpenAs(name, GENERIC_READ | GENERIC_WRITE, create ? OPEN_ALWAYS : OPEN_EXISTING);
    }
    std::unique_ptr<ISpoolFile> OpenForReading(const std::string& name) override {
        return OpenAs(name, GENERIC_READ, OPEN_EXISTING);
    }
    bool Remove(const std::string& name) override { return DeleteFileA(m_path.Of(name).c_str()) != FALSE; }
    bool Rename(const std::string& from, const std::string& to) override {
        return MoveFileExA(m_path.Of(from).c_str(), m_path.Of(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    bool ReadSmall(const std::string& name, std::string* bytes) override {
        UniqueFile file(CreateFileA(m_path.Of(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        if (!file || !GetFileSizeEx(file.get(), &size) ||
            size.QuadPart > static_cast<LONGLONG>(kSpoolSmallFileMaxBytes))
            return false;
        bytes->resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        return bytes->empty() ||
               (ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) &&
                got == bytes->size());
    }
    bool Replace(const std::string& name, const std::string& bytes) override {
        std::string temporary = m_path.TemporaryOf(name);
        {
            UniqueFile file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!file ||
                !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written != bytes.size() || !FlushFileBuffers(file.get()))
                return false;
        }
        return MoveFileExA(temporary.c_str(), m_path.Of(name).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }

private:
    std::unique_ptr<ISpoolFile> OpenAs(const std::string& name, DWORD access, DWORD disposition) {
        UniqueFile file(CreateFileA(m_path.Of(name).c_str(), access, kShareAll, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        if (!file || !GetFileSizeEx(file.get(), &size)) return nullptr;
        return std::unique_ptr<ISpoolFile>(
            new Win32File(std::move(file), static_cast<std::uint64_t>(size.QuadPart)));
    }

    SpoolFolderPath m_path;
};

}  // namespace

std::unique_ptr<ISpoolFolder> MakeSpoolFolder(const std::string& path) {
    return std::unique_ptr<ISpoolFolder>(new Win32Folder(path));
}
