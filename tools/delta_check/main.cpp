// delta-check.exe <delta file> <installed version folder> <new folder>
// Builds the new version's tree from an installed version and a delta with
// the setup's own code, into new folder (which must be new or empty), so a
// publisher can prove a delta against the release it starts from. Prints
// the totals, or what went wrong. Exit codes: 0 built, 1 failed or folder
// not empty, 3 bad command line. The installed folder is only read.
#include "setup/delta/delta_apply.h"

#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void print(FILE* stream, const std::wstring& text) {
    std::string bytes = qv::toUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || !argv[1][0] || !argv[2][0] || !argv[3][0]) {
        print(stderr, L"usage: delta-check.exe <delta file> <installed version folder> <new folder>\n");
        return 3;
    }
    std::wstring folder = qv::fullPath(argv[3]);
    DWORD attributes = GetFileAttributesW(qv::longPath(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
         qv::folderHoldsEntries(folder))) {
        print(stderr, L"delta-check: " + folder + L" already exists and is not an empty folder\n");
        return 1;
    }
    DWORD error = 0;
    if (!qv::createFolderTree(folder, &error)) {
        print(stderr, L"delta-check: cannot create " + folder + L"\n");
        return 1;
    }
    qv::DeltaApplyResult result =
        qv::applyDelta({qv::fullPath(argv[1]), qv::fullPath(argv[2]), folder, L"", L"", std::nullopt}, nullptr);
    if (!result.ok) {
        print(stderr, result.message + L"\n");
        return 1;
    }
    print(stdout, qv::formatText(L"Built %llu files, %llu bytes\n", static_cast<unsigned long long>(result.files),
                                 static_cast<unsigned long long>(result.bytes)));
    return 0;
}
