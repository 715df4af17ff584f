// A unique scratch folder for one test, removed with everything in it.
#pragma once

#include <string>

namespace qv::test {

class TempFolder {
public:
    // Creates <temp>\qv-test-<pid>-<counter>-<tick>.
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    // joinPath(path(), name)
    std::wstring operator/(const std::wstring& name) const;

private:
    std::wstring path_;
};

// Points TEMP and TMP at a folder for its lifetime, so the downloads of
// different tests never meet.
class TempRedirect {
public:
    explicit TempRedirect(const std::wstring& folder);
    ~TempRedirect();
    TempRedirect(const TempRedirect&) = delete;
    TempRedirect& operator=(const TempRedirect&) = delete;

private:
    std::wstring oldTemp_;
    std::wstring oldTmp_;
};

// Small file helpers for tests; paths in any form (long forms added here).
void writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
void makeFolders(const std::wstring& path);
// The folder of the running test executable (build/bin).
std::wstring binFolder();

}  // namespace qv::test
