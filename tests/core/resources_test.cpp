// Checks the resources built into both programs.
#include "foundation/handles.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

namespace qv {
namespace {

struct ProgramResources {
    LoadedModule module;
    explicit ProgramResources(const std::wstring& name)
        : module(LoadLibraryExW((test::binFolder() + L"\\" + name).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}

    std::string bytes(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceW(module.get(), name, type);
        if (!found) return {};
        HGLOBAL loaded = LoadResource(module.get(), found);
        const char* data = static_cast<const char*>(LockResource(loaded));
        return data ? std::string(data, SizeofResource(module.get(), found)) : std::string();
    }
};

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// Catches an icon with missing sizes or a lower colour depth.
void expectEightIconSizes(const ProgramResources& program) {
    std::string group = program.bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u);
    WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 8);
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const IconDirEntry*>(group.data() + 6 + i * 14);
        sizes.insert(entry->width == 0 ? 256 : entry->width);
        EXPECT_EQ(entry->bitCount, 32);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 96, 128, 256}));
}

// Catches a manifest that lets Windows ask for elevation or lose long paths.
void expectManifest(const ProgramResources& program) {
    std::string manifest = program.bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Quorvel.QuorvelAI.Setup\" version=\"1.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
}

std::wstring versionString(const std::wstring& program, const wchar_t* key) {
    std::wstring path = test::binFolder() + L"\\" + program;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::string data(size, '\0');
    if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return {};
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return {};
    return value;
}

TEST(Resources, SetupCarriesTheLauncherByteForByte) {
    ProgramResources setup(L"QuorvelAI-Setup.exe");
    ASSERT_TRUE(setup.module);
    std::string launcher = setup.bytes(RT_RCDATA, MAKEINTRESOURCEW(101));
    ASSERT_FALSE(launcher.empty());
    EXPECT_EQ(launcher, test::readFile(test::binFolder() + L"\\QuorvelAI.exe"));
}

// Catches a logo of the wrong format or size.
TEST(Resources, SetupCarriesThe256PixelPngLogo) {
    ProgramResources setup(L"QuorvelAI-Setup.exe");
    std::string logo = setup.bytes(RT_RCDATA, MAKEINTRESOURCEW(102));
    ASSERT_GT(logo.size(), 24u);
    EXPECT_EQ(logo.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto bigEndian = [&](size_t at) {
        return (static_cast<unsigned char>(logo[at]) << 24) | (static_cast<unsigned char>(logo[at + 1]) << 16) |
               (static_cast<unsigned char>(logo[at + 2]) << 8) | static_cast<unsigned char>(logo[at + 3]);
    };
    EXPECT_EQ(bigEndian(16), 256u);
    EXPECT_EQ(bigEndian(20), 256u);
}

TEST(Resources, BothProgramsHaveIconAndManifest) {
    for (const wchar_t* name : {L"QuorvelAI-Setup.exe", L"QuorvelAI.exe"}) {
        SCOPED_TRACE(testing::Message() << name);
        ProgramResources program(name);
        ASSERT_TRUE(program.module);
        expectEightIconSizes(program);
        expectManifest(program);
    }
}

// Catches version resources that name the wrong program.
TEST(Resources, VersionInformation) {
    EXPECT_EQ(versionString(L"QuorvelAI-Setup.exe", L"FileVersion"), L"1.0.0");
    EXPECT_EQ(versionString(L"QuorvelAI-Setup.exe", L"ProductVersion"), L"1.0.0");
    EXPECT_EQ(versionString(L"QuorvelAI-Setup.exe", L"FileDescription"), L"QuorvelAI Setup");
    EXPECT_EQ(versionString(L"QuorvelAI-Setup.exe", L"InternalName"), L"setup");
    EXPECT_EQ(versionString(L"QuorvelAI.exe", L"FileVersion"), L"1.0.0");
    EXPECT_EQ(versionString(L"QuorvelAI.exe", L"FileDescription"), L"QuorvelAI");
    EXPECT_EQ(versionString(L"QuorvelAI.exe", L"InternalName"), L"launcher");
}

}  // namespace
}  // namespace qv
