// The sink that writes an archive's entries below a staging folder.
#pragma once

#include "tar_reader.h"
#include "unpack_result.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

// A sink writing below stagingFolder (which should exist). Counts completed
// files and written bytes into result, and on a failing Windows call stores
// the error code, the failing path and the message "Could not write ..."
// there before returning false. Files already written stay on disk; the
// caller removes the folder. Neither argument is owned; result must outlive
// the sink. Each file's full size is reserved when it begins, so a disk that
// is too small fails at the start of the file with error 112.
//
// calls replaces the two file calls whose failures a test cannot bring
// about on a real volume everywhere (a full disk); the program keeps the
// defaults.
struct DiskSinkCalls {
    BOOL(WINAPI* setFileInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID,
                                     DWORD) = SetFileInformationByHandle;
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;
};
std::unique_ptr<TarSink> makeDiskSink(const std::wstring& stagingFolder, UnpackResult& result,
                                      const DiskSinkCalls& calls = DiskSinkCalls());

}  // namespace qv
