#include "mapped_file.h"

#include "foundation/paths.h"

namespace qv {
namespace {

bool failWith(DWORD* error) {
    if (error) *error = GetLastError();
    return false;
}

}  // namespace

bool MappedFile::mapView(DWORD protection, DWORD access, DWORD* error) {
    // Windows cannot map an empty file; it has no bytes to show anyway.
    if (size_ == 0) return true;
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, protection, static_cast<DWORD>(size_ >> 32),
                                      static_cast<DWORD>(size_), nullptr));
    if (!mapping_) return failWith(error);
    view_.reset(MapViewOfFile(mapping_.get(), access, 0, 0, static_cast<SIZE_T>(size_)));
    if (!view_) return failWith(error);
    return true;
}

bool MappedFile::openForReading(const std::wstring& path, DWORD* error) {
    file_.reset(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return failWith(error);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return failWith(error);
    size_ = static_cast<uint64_t>(size.QuadPart);
    return mapView(PAGE_READONLY, FILE_MAP_READ, error);
}

bool MappedFile::createForWriting(const std::wstring& path, uint64_t size, DWORD* error) {
    file_.reset(CreateFileW(longPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return failWith(error);
    size_ = size;
    // Mapping a new file at its full size reserves its space at once: a
    // disk that is too small fails here, before any byte is decoded.
    return mapView(PAGE_READWRITE, FILE_MAP_WRITE, error);
}

}  // namespace qv
