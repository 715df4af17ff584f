// End to end: an upgrade whose release offers a delta from the installed
// version builds the new version from it, and every way the delta can fail
// falls back to the full payload with a WARN line, ending with the same
// install a full upgrade gives.
#include "install_run_support.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/http_control.h"

#include <functional>
#include <map>

namespace qv::test {
namespace {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every entry below folder: files with their bytes, folders as "<folder>".
void readTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::string>& tree) {
    for (const std::wstring& name : listFolderNames(folder)) {
        std::wstring path = folder + L"\\" + name;
        if (GetFileAttributesW(longPath(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            tree[prefix + name] = "<folder>";
            readTree(path, prefix + name + L"\\", tree);
        } else {
            tree[prefix + name] = readFile(path);
        }
    }
}

std::map<std::wstring, std::string> treeOf(const std::wstring& folder) {
    std::map<std::wstring, std::string> tree;
    readTree(folder, L"", tree);
    return tree;
}

class DeltaInstall : public InstallRunTest {
protected:
    // A root with 1.0.0 of variant installed and registered.
    std::wstring installBase(const std::string& variant, const std::wstring& name) {
        std::wstring root = temp / name;
        SetupRun run = runSetup(temp.path(), silentArguments(variant, "1.0.0", root) + L" --no-shortcuts");
        EXPECT_EQ(run.result.exitCode, 0u) << run.log;
        return root;
    }
    ServerControl control;
};

// Catches a delta upgrade whose tree differs from the full one, a failure
// on the delta road that fails the run (or skips the WARN line), a fallback
// that does not fetch the full payload, or a delta used when it was not.
TEST_F(DeltaInstall, UpgradesFromTheDeltaOrFallsBackToTheFullPayload) {
    ASSERT_TRUE(control.reset());
    SetupRun full = runSetup(temp.path(), silentArguments("delta", "1.1.0", temp / L"reference") + L" --no-shortcuts");
    ASSERT_EQ(full.result.exitCode, 0u) << full.log;
    EXPECT_FALSE(full.has("Delta update")) << "a fresh install has nothing to build on\n" << full.log;
    const auto reference = treeOf(temp / L"reference\\app-1.1.0");
    FileHandle held;  // a file another program holds during the upgrade

    struct Case {
        const char* name;
        std::string variant;
        std::function<void(const std::wstring& base)> arrange;
        const char* warning;  // null: the delta is used
    };
    const Case cases[] = {
        {"delta used", "delta", nullptr, nullptr},
        {"delta refused by the server", "delta",
         [&](const std::wstring&) { control.setFaults(deltaPath("delta", "1.1.0"), "[{\"status\":404}]", true); },
         "the delta did not download (QV-NET-5: "},
        {"delta damaged on the way", "delta",
         [&](const std::wstring&) { control.setFaults(deltaPath("delta", "1.1.0"), "[{\"corrupt_at\":40}]", true); },
         "the delta did not download (QV-HASH-1: "},
        // Same size, other bytes: only the hash can tell.
        {"unchanged installed file edited", "delta",
         [](const std::wstring& base) { writeFile(base + L"\\demo.ini", "exit_code=0\ndelay_ms=301\n"); },
         "\\demo.ini changed since it was installed"},
        // An antivirus or the running app holding a file is no change of the user's.
        {"unchanged installed file held by another program", "delta",
         [&](const std::wstring& base) {
             held.reset(CreateFileW(longPath(base + L"\\demo.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
         },
         "\\demo.ini could not be read (error 32)"},
        {"unchanged installed file deleted", "delta",
         [](const std::wstring& base) { DeleteFileW(longPath(base + L"\\demo.ini").c_str()); },
         "\\demo.ini changed since it was installed"},
        {"patched installed file edited", "delta",
         [](const std::wstring& base) {
             std::string data = readFile(base + L"\\resources\\data.bin");
             data[5000] = static_cast<char>(data[5000] ^ 1);
             writeFile(base + L"\\resources\\data.bin", data);
         },
         "\\resources\\data.bin changed since it was installed"},
        {"patch does not decode", "deltabroken", nullptr, "The data of resources\\data.bin does not decode: "},
        {"patch decodes to the wrong bytes", "deltawrong", nullptr,
         "The data of resources\\notes.txt decodes to the wrong bytes"},
        {"hostile list", "deltahostile", nullptr, "The delta is damaged: unsafe path \"../added.txt\""},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring root = installBase(c.variant, L"root-" + std::to_wstring(index++));
        ASSERT_TRUE(control.reset());
        if (c.arrange) c.arrange(root + L"\\app-1.0.0");
        SetupRun run = runSetup(temp.path(), silentArguments(c.variant, "1.1.0", root) + L" --no-shortcuts");
        held.reset();
        EXPECT_EQ(run.result.exitCode, 0u) << c.name << "\n" << run.log;
        EXPECT_TRUE(run.has("INFO  Delta update from 1.0.0: ")) << c.name << "\n" << run.log;
        size_t payloadRequests = control.requestsFor(payloadPath(c.variant, "1.1.0")).size();
        if (c.warning) {
            EXPECT_TRUE(run.has("WARN  Delta update not used: ") && run.has(c.warning)) << c.name << "\n" << run.log;
            EXPECT_FALSE(run.has("INFO  Built ")) << c.name << ": a failed build reported as built\n" << run.log;
            EXPECT_GT(payloadRequests, 0u) << c.name;
        } else {
            EXPECT_TRUE(run.has("INFO  Built ")) << run.log;
            EXPECT_FALSE(run.has("WARN ")) << run.log;
            EXPECT_EQ(payloadRequests, 0u) << "the full payload was downloaded too";
        }
        EXPECT_TRUE(treeOf(root + L"\\app-1.1.0") == reference) << c.name << ": the tree differs";
        EXPECT_FALSE(exists(root + L"\\app-1.1.0.tmp")) << c.name;
        EXPECT_EQ(entryText(L"DisplayVersion"), L"1.1.0") << c.name;
        EXPECT_TRUE(launcherStartsVersion(root, L"1.1.0")) << c.name;
    }
    // A used or useless delta is not kept: only resumable parts may stay.
    for (const std::wstring& name : listFolderNames(temp / L"QuorvelAI-Setup"))
        EXPECT_TRUE(name.find(L".delta") == std::wstring::npos || name.find(L".part") != std::wstring::npos)
            << toUtf8(name);
}

}  // namespace
}  // namespace qv::test
