// Per-user state the uninstall tests change, saved before and put back
// after: registry keys under HKEY_CURRENT_USER and roaming data folders.
#pragma once

#include <windows.h>

#include <string>

namespace qv::test {

// Moves the key tree aside (it is then missing) and puts it back at the end,
// dropping whatever the test left under that name.
class SavedKey {
public:
    explicit SavedKey(std::wstring path);
    ~SavedKey();
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;

private:
    std::wstring path_;
    std::wstring backup_;
    bool existed_ = false;
};

// Renames the folder aside (it is then missing) and puts it back at the end,
// removing whatever the test left there.
class SavedFolder {
public:
    explicit SavedFolder(std::wstring path);
    ~SavedFolder();
    SavedFolder(const SavedFolder&) = delete;
    SavedFolder& operator=(const SavedFolder&) = delete;

private:
    std::wstring path_;
    std::wstring backup_;
    bool existed_ = false;
};

bool keyExists(const std::wstring& path);
// A REG_SZ value (name nullptr: the default value).
void setString(const std::wstring& key, const wchar_t* name, const std::wstring& text);

// Makes a junction (or, where that is refused, a folder symbolic link) at
// link pointing to target; false when neither can be made.
bool makeFolderLink(const std::wstring& link, const std::wstring& target);

// Ends the processes whose program lies under folder (left-overs of a failed
// test that started them); returns how many.
int endProcessesUnder(const std::wstring& folder);

}  // namespace qv::test
