#include "settings/Registry.h"

#include "kit/Exceptions.h"

#include <algorithm>

void WriteRegistryString(HKEY Root, const std::string& KeyPath, const std::string& ValueName,
                         const std::string& Data) {
    // The value goes through the handle that creating the key returned: reopening the key
    // afterwards could fail on its own and leave the value silently unwritten.
    TRegKey Key;
    if (RegCreateKeyExA(Root, KeyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        Key.Put(), nullptr) != ERROR_SUCCESS)
        throw EWriteError("Failed to create key " + KeyPath);
    // The terminating null is part of a REG_SZ value.
    if (RegSetValueExA(Key.Get(), ValueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Data.c_str()),
                       static_cast<DWORD>(Data.size() + 1)) != ERROR_SUCCESS)
        throw EWriteError("Failed to set data for '" + ValueName + "'");
}

void DeleteRegistryValue(HKEY Root, const std::string& KeyPath, const std::string& ValueName) {
    TRegKey Key;
    LONG Result = RegOpenKeyExA(Root, KeyPath.c_str(), 0, KEY_ALL_ACCESS, Key.Put());
    if (Result == ERROR_SUCCESS)
        Result = RegDeleteValueA(Key.Get(), ValueName.c_str());
    if (Result == ERROR_SUCCESS || Result == ERROR_FILE_NOT_FOUND)
        return;
    // A refusal (an account without write access to the key) matters only while the value is
    // still there: Windows would go on starting the program after the user turned that off.
    if (RegistryValueExists(Root, KeyPath, ValueName))
        throw EWriteError("Failed to delete value '" + ValueName + "'");
}

bool RegistryValueExists(HKEY Root, const std::string& KeyPath, const std::string& ValueName) {
    TRegKey Key;
    if (RegOpenKeyExA(Root, KeyPath.c_str(), 0, KEY_QUERY_VALUE, Key.Put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExA(Key.Get(), ValueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool ReadRegistryString(HKEY Root, const std::string& KeyPath, const std::string& ValueName, std::string& Data) {
    TRegKey Key;
    if (RegOpenKeyExA(Root, KeyPath.c_str(), 0, KEY_QUERY_VALUE, Key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD Type = 0, Size = 0;
    if (RegQueryValueExA(Key.Get(), ValueName.c_str(), nullptr, &Type, nullptr, &Size) != ERROR_SUCCESS ||
        Type != REG_SZ)
        return false;
    // Room for a terminating null that the stored data may lack.
    std::string Buffer(Size + 1, '\0');
    if (RegQueryValueExA(Key.Get(), ValueName.c_str(), nullptr, &Type, reinterpret_cast<BYTE*>(Buffer.data()),
                         &Size) != ERROR_SUCCESS ||
        Type != REG_SZ)
        return false;
    Buffer.resize(std::min<std::size_t>(Size, Buffer.find('\0')));
    Data = Buffer;
    return true;
}
