// Reads of the delta and of the installed files it builds on, through
// ReadFile into buffers of the setup's own. (Through a file mapping, a
// share that goes away or a bad sector would fault the process; here it
// is an error code.)
#pragma once

#include "foundation/handles.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// The read call, replaceable so tests can fail it as a failing disk would;
// the program keeps ReadFile.
using ReadFileCall = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

class FileReader {
public:
    explicit FileReader(ReadFileCall readFile = ReadFile) : readFile_(readFile) {}

    // Opens an existing file, shared for reading only: a file another
    // program is writing is not read. False with *error set.
    bool open(const std::wstring& path, DWORD* error);
    uint64_t size() const { return size_; }
    // Reads exactly length bytes from offset. False with *error set;
    // ERROR_HANDLE_EOF when the file ends first.
    bool readAt(uint64_t offset, uint8_t* bytes, size_t length, DWORD* error) const;

private:
    ReadFileCall readFile_;
    FileHandle file_;
    uint64_t size_ = 0;
};

}  // namespace qv
