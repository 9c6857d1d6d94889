#include "platform/Files.h"

#include <atomic>
#include <windows.h>

namespace {

// Closes the handle and removes the temporary file unless committed.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target)
    {
        static std::atomic<unsigned> counter{0};
        path_ = target + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        // Not shared: nobody reads the image before it is whole.
        handle_ = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        error_ = handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    ~TemporaryFile()
    {
        Close();
        if (error_ == 0 && !committed_)
            DeleteFileA(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int CreationError() const { return static_cast<int>(error_); }
    HANDLE Handle() const { return handle_; }
    const std::string& Path() const { return path_; }
    bool Close()
    {
        bool closed = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }
    void Commit() { committed_ = true; }

private:
    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
    bool committed_ = false;
};

int LastError() { return static_cast<int>(GetLastError()); }

} // namespace

int ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes, bool* opened)
{
    bytes.clear();
    if (opened != nullptr)
        *opened = false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastError();
    if (opened != nullptr)
        *opened = true;
    // Only a file on a disk has an end to read to: a pipe or a device (CON,
    // COM1, NUL) is refused at once instead of waited on.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return ERROR_NOT_SUPPORTED;
    }
    uint8_t chunk[4096];
    int error = 0;
    while (bytes.size() <= maxBytes) {
        DWORD n = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
            error = LastError();
            break;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    CloseHandle(file);
    return error;
}

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size)
{
    TemporaryFile file(path);
    if (file.CreationError() != 0)
        return file.CreationError();
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(size - done < (1u << 30) ? size - done : (1u << 30));
        DWORD n = 0;
        if (!WriteFile(file.Handle(), data + done, chunk, &n, nullptr))
            return LastError();
        if (n == 0)
            return ERROR_WRITE_FAULT;
        done += n;
    }
    // On disk before the move makes it the file, or a crash could leave a
    // complete-looking but empty file.
    if (!FlushFileBuffers(file.Handle()))
        return LastError();
    if (!file.Close())
        return LastError();
    if (!MoveFileExA(file.Path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastError();
    file.Commit();
    return 0;
}

std::string SystemErrorText(int error)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : "Unknown error " + std::to_string(error);
    if (text != nullptr)
        LocalFree(text);
    // The system's texts end with ".\r\n"; the catalogue's own punctuation follows.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}
