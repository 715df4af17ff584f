#include "tests/unpack/unpack_test_support.h"

#include "tests/support/temp_folder.h"

#include "foundation/handles.h"
#include "foundation/paths.h"

#include <windows.h>

namespace qv::test {
namespace {

void collect(const std::wstring& folder, const std::wstring& relative,
             std::map<std::wstring, std::string>& files) {
    WIN32_FIND_DATAW entry;
    std::wstring here = relative.empty() ? folder : joinPath(folder, relative);
    FindHandle find(FindFirstFileW(longPath(joinPath(here, L"*")).c_str(), &entry));
    if (!find) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            collect(folder, path, files);
        else
            files[path] = readFile(joinPath(folder, path));
    } while (FindNextFileW(find.get(), &entry));
}

}  // namespace

std::wstring fixtureFolder() { return joinPath(binFolder(), L"unpack-fixtures"); }

std::wstring fixture(const std::wstring& name) { return joinPath(fixtureFolder(), name); }

std::map<std::wstring, std::string> readTree(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    collect(folder, L"", files);
    return files;
}

void RecordingProgress::setProgress(double fraction) {
    fractions.push_back(fraction);
    fractionTicks.push_back(GetTickCount64());
}

}  // namespace qv::test
