// Folder links (symbolic links to folders) for tests of code that must not
// follow them.
#pragma once

#include <string>

namespace qv::test {

// Makes link a symbolic link to the folder target. Under Wine,
// CreateSymbolicLinkW answers success and makes nothing, so there the link
// is made on the Unix side, which Wine shows as a folder reparse point.
// True only when link now shows as one.
bool makeFolderLink(const std::wstring& link, const std::wstring& target);
// Removes such a link without touching its target (under Wine,
// RemoveDirectoryW on a link removes the folder it points to).
void removeFolderLink(const std::wstring& link);

}  // namespace qv::test
