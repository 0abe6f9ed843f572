#pragma once
// Registry keys, each owned by a TUniqueHandle, and the registry work behind the start-up registration. The
// root and key path are parameters so that tests can aim the same code at a key of their own.

#include "kit/UniqueHandle.h"

#include <windows.h>

#include <string>

using TRegKey = TUniqueHandle<TRegKeyTraits>;

// Creates the key when it is missing and sets the value to Data as REG_SZ, overwriting it.
// Raises EWriteError "Failed to create key <KeyPath>" or "Failed to set data for '<ValueName>'".
void WriteRegistryString(HKEY Root, const std::string& KeyPath, const std::string& ValueName,
                         const std::string& Data);

// Deletes the value; a missing key or value is not an error. Raises EWriteError
// "Failed to delete value '<ValueName>'" only when the value could not be deleted and is still
// there.
void DeleteRegistryValue(HKEY Root, const std::string& KeyPath, const std::string& ValueName);

bool RegistryValueExists(HKEY Root, const std::string& KeyPath, const std::string& ValueName);

// Reads a REG_SZ value into Data; false when the key or value is missing or of another type.
bool ReadRegistryString(HKEY Root, const std::string& KeyPath, const std::string& ValueName, std::string& Data);
