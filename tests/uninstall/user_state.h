// Per-user state the uninstall tests change: moved aside before a test and
// put back after it, dropping whatever the test left under that name.
#pragma once

#include <string>

namespace qv::test {

// A key tree under HKEY_CURRENT_USER.
class SavedKey {
public:
    explicit SavedKey(std::wstring path);
    ~SavedKey();
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;

private:
    std::wstring path_, backup_;
    bool existed_ = false;
};

// A folder with everything in it.
class SavedFolder {
public:
    explicit SavedFolder(std::wstring path);
    ~SavedFolder();
    SavedFolder(const SavedFolder&) = delete;
    SavedFolder& operator=(const SavedFolder&) = delete;

private:
    std::wstring path_, backup_;
    bool existed_ = false;
};

bool keyExists(const std::wstring& path);
// A REG_SZ value under HKEY_CURRENT_USER (name nullptr: the default value).
void setString(const std::wstring& key, const wchar_t* name, const std::wstring& text);
// Ends the processes whose program lies under folder: what a failed test
// started must not outlive it.
void endProcessesUnder(const std::wstring& folder);

}  // namespace qv::test
