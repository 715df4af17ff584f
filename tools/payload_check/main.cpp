// payload-check.exe <payload.tar.xz> [<folder>]
// Unpacks the payload into folder, which must be new or empty, or into a
// temporary folder removed afterwards. Prints the totals, or the error's
// code, message and detail. Exit codes: 0 unpacked, 1 failed or folder not
// empty, 3 bad command line.
#include "setup/core/options.h"
#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "foundation/folder_tree.h"
#include "setup/unpack/unpack_payload.h"

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

std::wstring scratchFolder() {
    return qv::joinPath(qv::tempFolder(),
                        qv::formatText(L"payload-check-%lu-%llu", GetCurrentProcessId(),
                                       static_cast<unsigned long long>(GetTickCount64())));
}

int check(const std::wstring& payload, const std::wstring& folder) {
    qv::SetupOptions options;
    qv::SilentProgress progress;
    qv::SetupContext context(options, &progress, nullptr);
    qv::UnpackResult totals;
    try {
        qv::UnpackPayload(context, qv::fullPath(payload), qv::fullPath(folder), &totals);
    } catch (const qv::SetupError& error) {
        print(stderr, error.code + L": " + error.message + L"\n" + error.detail + L"\n");
        return 1;
    }
    print(stdout, qv::formatText(L"Unpacked %llu files, %llu bytes\n",
                                 static_cast<unsigned long long>(totals.files),
                                 static_cast<unsigned long long>(totals.bytes)));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3 || argv[1][0] == L'\0' || (argc == 3 && argv[2][0] == L'\0')) {
        print(stderr, L"usage: payload-check.exe <payload.tar.xz> [<folder>]\n");
        return 3;
    }
    if (argc == 3) {
        // The unpack step treats its folder as its own staging folder and
        // removes it before and after a failure: a publisher's folder that
        // already holds anything must never be handed to it.
        std::wstring folder = qv::fullPath(argv[2]);
        DWORD attributes = GetFileAttributesW(qv::longPath(folder).c_str());
        bool existed = attributes != INVALID_FILE_ATTRIBUTES;
        bool usable = !existed || ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                   !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                                   !qv::folderHoldsEntries(folder));
        if (!usable) {
            print(stderr, L"payload-check: " + folder +
                              L" already exists and is not an empty folder; name a new or empty "
                              L"folder\n");
            return 1;
        }
        int code = check(argv[1], folder);
        // An empty folder the publisher made stays, as it was found.
        if (existed) qv::createFolderTree(folder);
        return code;
    }
    std::wstring folder = scratchFolder();
    int code = check(argv[1], folder);
    qv::removeTree(folder);
    return code;
}
