#include "disk_sink.h"

#include "foundation/folder_tree.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <windows.h>

#include <algorithm>

namespace qv {
namespace {

// The largest piece handed to one WriteFile (whose length is 32-bit).
constexpr size_t maxWritePiece = 1073741824;

class DiskSink final : public TarSink {
public:
    DiskSink(const std::wstring& stagingFolder, UnpackResult& result, const DiskSinkCalls& calls)
        : root_(fullPath(stagingFolder)), result_(result), calls_(calls) {}

    bool MakeDirectory(const std::wstring& relativePath) override {
        return ensureFolder(joinPath(root_, relativePath));
    }
    bool BeginFile(const std::wstring& relativePath, uint64_t size) override;
    bool Write(const uint8_t* bytes, size_t length) override;
    bool EndFile() override;

private:
    bool ensureFolder(const std::wstring& folder);
    bool reserve(uint64_t size);
    bool report(const std::wstring& path, DWORD error);

    std::wstring root_;
    std::wstring currentFile_;
    std::wstring lastFolder_;
    FileHandle handle_;  // closed by its destructor when a failure left it open
    UnpackResult& result_;
    DiskSinkCalls calls_;
};

bool DiskSink::ensureFolder(const std::wstring& folder) {
    // Entries of one folder usually follow each other; asking Windows once
    // per folder instead of once per file saves a call per entry.
    if (!lastFolder_.empty() && equalsIgnoreCase(folder, lastFolder_)) return true;
    DWORD error = 0;
    if (!createFolderTree(folder, &error)) return report(folder, error ? error : ERROR_CANNOT_MAKE);
    lastFolder_ = folder;
    return true;
}

bool DiskSink::BeginFile(const std::wstring& relativePath, uint64_t size) {
    currentFile_ = joinPath(root_, relativePath);
    if (!ensureFolder(parentFolder(currentFile_))) return false;
    handle_.reset(CreateFileW(longPath(currentFile_).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
    if (!handle_) {
        DWORD error = GetLastError();
        // An archive that names a file where it made a folder is malformed;
        // Windows answers "access denied", which would blame a security
        // program. Say what really happened instead.
        if (error == ERROR_ACCESS_DENIED && isFolder(currentFile_)) error = ERROR_ALREADY_EXISTS;
        return report(currentFile_, error);
    }
    return reserve(size);
}

// Claims the file's whole size at once so that a full disk shows at the
// start of the file. The allocation request makes the volume set the space
// aside (a bare end of file can stay sparse on some file systems); the end of
// file then fixes the size. Both are set by handle, without moving the file
// pointer: each call is a round trip to the file system, and an install
// creates thousands of small files. Only a full disk counts: a volume that
// cannot do either early still gets the data written normally.
bool DiskSink::reserve(uint64_t size) {
    if (size == 0) return true;
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(std::min<uint64_t>(size, INT64_MAX));
    if (!calls_.setFileInformation(handle_.get(), FileAllocationInfo, &allocation,
                                   sizeof allocation) &&
        GetLastError() == ERROR_DISK_FULL)
        return report(currentFile_, ERROR_DISK_FULL);
    FILE_END_OF_FILE_INFO endOfFile;
    endOfFile.EndOfFile = allocation.AllocationSize;
    if (!calls_.setFileInformation(handle_.get(), FileEndOfFileInfo, &endOfFile,
                                   sizeof endOfFile) &&
        GetLastError() == ERROR_DISK_FULL)
        return report(currentFile_, ERROR_DISK_FULL);
    return true;
}

bool DiskSink::Write(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        DWORD piece = static_cast<DWORD>(std::min(length, maxWritePiece));
        DWORD written = 0;
        if (!calls_.writeFile(handle_.get(), bytes, piece, &written, nullptr))
            return report(currentFile_, GetLastError());
        // A write that succeeds with fewer bytes is continued: the next
        // attempt either goes on or fails with the real error. One that
        // takes nothing at all would loop forever, and without an error code
        // of its own would pass for damaged data.
        if (written == 0) return report(currentFile_, ERROR_HANDLE_DISK_FULL);
        result_.bytes += written;
        bytes += written;
        length -= written;
    }
    return true;
}

bool DiskSink::EndFile() {
    // The close is done by hand here because its result matters: on some
    // volumes delayed write errors only show when the file is closed.
    if (!CloseHandle(handle_.release())) return report(currentFile_, GetLastError());
    result_.files += 1;
    return true;
}

bool DiskSink::report(const std::wstring& path, DWORD error) {
    result_.errorCode = error;
    result_.failingPath = path;
    result_.message = formatText(L"Could not write %ls: %ls (error %lu)", path.c_str(),
                                 windowsErrorText(error).c_str(), static_cast<unsigned long>(error));
    return false;
}

}  // namespace

std::unique_ptr<TarSink> makeDiskSink(const std::wstring& stagingFolder, UnpackResult& result,
                                      const DiskSinkCalls& calls) {
    return std::make_unique<DiskSink>(stagingFolder, result, calls);
}

}  // namespace qv
