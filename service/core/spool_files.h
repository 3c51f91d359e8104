// The few file operations the spool needs, in one folder. Pure C++: the spool's logic is tested
// natively over the POSIX implementation; the service uses the Win32 one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Largest file ReadSmall reads.
constexpr std::size_t kSpoolSmallFileMaxBytes = 4096;

class ISpoolFile {
public:
    virtual ~ISpoolFile() = default;
    // The whole buffer in one write at the end of the file, so that a killed process leaves
    // either all of it or a torn tail the scan recognises.
    virtual bool Append(const void* data, std::size_t size) = 0;
    // Up to size bytes from offset; fewer only at the end of the file.
    virtual bool ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) = 0;
    // To the disk, not only to the system's cache.
    virtual bool Flush() = 0;
    virtual bool Size(std::uint64_t* size) = 0;
};

// Names are bare file names inside the folder the implementation was made for.
class ISpoolFolder {
public:
    virtual ~ISpoolFolder() = default;
    // Makes the folder unless it exists.
    virtual bool Create() = 0;
    // The names of the plain files in the folder.
    virtual bool List(std::vector<std::string>* names) = 0;
    // For reading and appending; create makes a missing file, otherwise it must exist.
    virtual std::unique_ptr<ISpoolFile> Open(const std::string& name, bool create) = 0;
    // For reading only, so that a file the spool may not write is still delivered.
    virtual std::unique_ptr<ISpoolFile> OpenForReading(const std::string& name) = 0;
    virtual bool Remove(const std::string& name) = 0;
    // Renames a file in the folder; fails when the new name exists.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // A small file read whole; false when it is missing or unreadable.
    virtual bool ReadSmall(const std::string& name, std::string* bytes) = 0;
    // Replaces a small file as a whole: written beside it, flushed, then renamed over it, so
    // that a crash leaves the old contents or the new ones.
    virtual bool Replace(const std::string& name, const std::string& bytes) = 0;
};

// Where Replace writes before it renames.
constexpr const char* kSpoolTemporarySuffix = ".tmp";

// The folder's path without trailing separators, and the paths of the names in it.
class SpoolFolderPath {
public:
    // The first of the separators is the one paths are joined with.
    SpoolFolderPath(const std::string& path, const char* separators)
        : m_path(path), m_separator(separators[0]) {
        while (m_path.size() > 1 && std::strchr(separators, m_path.back()) != nullptr) m_path.pop_back();
    }
    const char* folder() const { return m_path.c_str(); }
    std::string Of(const std::string& name) const { return m_path + m_separator + name; }
    std::string TemporaryOf(const std::string& name) const { return Of(name + kSpoolTemporarySuffix); }

private:
    std::string m_path;
    char m_separator;
};

// The folder's path as the platform spells it, with or without a trailing separator.
std::unique_ptr<ISpoolFolder> MakeSpoolFolder(const std::string& path);
