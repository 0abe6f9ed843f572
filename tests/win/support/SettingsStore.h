#pragma once
// The settings file and registry keys as the Windows tests prepare and read them back.

#include "kit/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

inline constexpr char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char RunValueName[] = "Orvela Cardwick";

// The Windows directory's "cardwick.ini".
std::string SettingsPath();
// Removes the file (or a directory put in its place), after letting go of the platform's cached
// copy, which would otherwise be written back.
void RemoveSettingsFile();
// The file's non-empty lines, line ends stripped.
std::vector<std::string> SettingsFileLines();

// A string value's data, or "(none)" when there is no such value.
std::string RegistryString(HKEY Root, const std::string& KeyPath, const std::string& Name);

// Leaves a key readable by everyone, and nothing more (permissions excepted, so that it can be
// put back): writes to it are refused, as the machine-wide keys refuse a standard account. The key's
// own permissions come back when this object goes.
class TLockedKey {
public:
    TLockedKey(HKEY Root, const std::string& KeyPath);
    ~TLockedKey();
    TLockedKey(const TLockedKey&) = delete;
    TLockedKey& operator=(const TLockedKey&) = delete;

private:
    TUniqueHandle<TRegKeyTraits> Key;
    std::vector<char> Saved;
};
