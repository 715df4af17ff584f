// The uninstaller copy, the per-user uninstall entry and the attribution stamp.
#pragma once

#include "setup/core/setup_context.h"
#include "setup/core/uninstall_key.h"

#include <windows.h>

#include <string>

namespace qv {

// Each opens or creates the key under HKEY_CURRENT_USER and sets one value.
bool writeRegistryString(const wchar_t* key, const wchar_t* name, const std::wstring& text);
bool writeRegistryNumber(const wchar_t* key, const wchar_t* name, DWORD number);
// A REG_SZ or REG_EXPAND_SZ value (expanded) under HKEY_CURRENT_USER;
// empty when missing or unreadable. name nullptr reads the default value.
std::wstring readRegistryString(const wchar_t* key, const wchar_t* name);

// Test seam: when set, writeRegistryString and writeRegistryNumber ask it
// before setting a value and fail without writing when it answers false, as
// a refused RegSetValueExW would. The program itself never sets it.
using RegistryWriteGate = bool (*)(const wchar_t* key, const wchar_t* name);
RegistryWriteGate& registryWriteGate();

// Copies the running program to root\Uninstall.exe. Never throws; logs.
void copyUninstaller(const SetupContext& context, const std::wstring& root);
// Writes the uninstall entry's values in order, the rollout bucket last.
// Never throws; logs.
void writeUninstallEntry(const SetupContext& context, const std::wstring& root);
// Keeps a bucket drawn in this run in the existing entry, for a run that
// writes no entry. Never throws; logs.
void keepDrawnRolloutBucket(const SetupContext& context);

// The "at_" + 16 letters or digits id in a setup file name; empty when none.
std::wstring findAttributionId(const std::wstring& fileName);
// %APPDATA%\quorvelai\attribution.json
std::wstring attributionStampPath();
// Writes the stamp for the id in the running program's file name once, on a
// fresh install. Never throws; silent on failure.
void writeAttributionStamp(const SetupContext& context);
// Writes id into a new stamp file at path (its folder made when missing);
// false, without touching it, when the file exists or cannot be made.
bool writeAttributionStampFile(const std::wstring& id, const std::wstring& path);

}  // namespace qv
