// Files seen through file mappings: the delta and the installed files it
// builds on are read in place, and new files are written in place, so
// their bytes never pass through buffers of the setup's own (its private
// memory stays the same however large the files are).
#pragma once

#include "foundation/handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

class MappedFile {
public:
    MappedFile() = default;
    MappedFile(MappedFile&&) = default;
    MappedFile& operator=(MappedFile&&) = default;

    // Maps an existing file for reading, shared for reading. False with
    // *error set (the Windows error) when it cannot be opened or mapped.
    // An empty file maps to no bytes (data() is null).
    bool openForReading(const std::wstring& path, DWORD* error);
    // Creates a new file of exactly size bytes (refused when the path
    // exists) and maps it for writing. False with *error set on failure.
    bool createForWriting(const std::wstring& path, uint64_t size, DWORD* error);

    const uint8_t* data() const { return static_cast<const uint8_t*>(view_.get()); }
    uint8_t* writable() { return static_cast<uint8_t*>(view_.get()); }
    uint64_t size() const { return size_; }

private:
    bool mapView(DWORD protection, DWORD access, DWORD* error);

    FileHandle file_;
    KernelHandle mapping_;
    MappedView view_;
    uint64_t size_ = 0;
};

}  // namespace qv
