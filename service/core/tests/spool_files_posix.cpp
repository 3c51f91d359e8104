// The spool's file seam over POSIX calls, for the native tests of the spool.
#include "spool_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

class PosixFile : public ISpoolFile {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    ~PosixFile() override { close(m_fd); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Append(const void* data, std::size_t size) override {
        ssize_t n = write(m_fd, data, size);
        return n >= 0 && static_cast<std::size_t>(n) == size;
    }
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
        *got = 0;
        while (*got < size) {
            ssize_t n =
                pread(m_fd, static_cast<char*>(data) + *got, size - *got, static_cast<off_t>(offset + *got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            *got += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Flush() override { return fsync(m_fd) == 0; }
    bool Size(std::uint64_t* size) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return false;
        *size = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

private:
    int m_fd;
};

class PosixFolder : public ISpoolFolder {
public:
    explicit PosixFolder(const std::string& path) : m_path(path, "/") {}

    bool Create() override {
        if (mkdir(m_path.folder(), 0777) == 0) return true;
        struct stat st;
        return errno == EEXIST && stat(m_path.folder(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool List(std::vector<std::string>* names) override {
        names->clear();
        DIR* dir = opendir(m_path.folder());
        if (dir == nullptr) return false;
        while (dirent* entry = readdir(dir)) {
            struct stat st;
            if (stat(m_path.Of(entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                names->push_back(entry->d_name);
        }
        closedir(dir);
        return true;
    }
    std::unique_ptr<ISpoolFile> Open(const std::string& name, bool create) override {
        int fd = open(m_path.Of(name).c_str(), O_RDWR | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (fd < 0) return nullptr;
        return std::unique_ptr<ISpoolFile>(new PosixFile(fd));
    }
    std::unique_ptr<ISpoolFile> OpenForReading(const std::string& name) override {
        int fd = open(m_path.Of(name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        return std::unique_ptr<ISpoolFile>(new PosixFile(fd));
    }
    bool Remove(const std::string& name) override { return unlink(m_path.Of(name).c_str()) == 0; }
    bool Rename(const std::string& from, const std::string& to) override {
        // link then unlink: unlike rename, it never replaces what is there.
        if (link(m_path.Of(from).c_str(), m_path.Of(to).c_str()) != 0) return false;
        return unlink(m_path.Of(from).c_str()) == 0;
    }
    bool ReadSmall(const std::string& name, std::string* bytes) override {
        std::unique_ptr<ISpoolFile> file = OpenForReading(name);
        std::uint64_t size = 0;
        if (!file || !file->Size(&size) || size > kSpoolSmallFileMaxBytes) return false;
        bytes->resize(static_cast<std::size_t>(size));
        std::size_t got = 0;
        return file->ReadAt(0, &(*bytes)[0], bytes->size(), &got) && got == bytes->size();
    }
    bool Replace(const std::string& name, const std::string& bytes) override {
        std::string temporary = m_path.TemporaryOf(name);
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        PosixFile file(fd);
        if (!file.Append(bytes.data(), bytes.size()) || !file.Flush()) return false;
        return rename(temporary.c_str(), m_path.Of(name).c_str()) == 0;
    }

private:
    SpoolFolderPath m_path;
};

}  // namespace

std::unique_ptr<ISpoolFolder> MakeSpoolFolder(const std::string& path) {
    return std::unique_ptr<ISpoolFolder>(new PosixFolder(path));
}
