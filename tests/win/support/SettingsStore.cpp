#include "tests/win/support/SettingsStore.h"

#include <fstream>
#include <sstream>

std::string SettingsPath() {
    char Path[MAX_PATH];
    const UINT Length = GetWindowsDirectoryA(Path, MAX_PATH);
    return std::string(Path, Length) + "\\cardwick.ini";
}

void RemoveSettingsFile() {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "cardwick.ini");
    const std::string Path = SettingsPath();
    RemoveDirectoryA(Path.c_str());
    SetFileAttributesA(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(Path.c_str());
}

std::vector<std::string> SettingsFileLines() {
    std::ifstream File(SettingsPath(), std::ios::binary);
    std::vector<std::string> Lines;
    for (std::string Line; std::getline(File, Line);) {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        if (!Line.empty())
            Lines.push_back(Line);
    }
    return Lines;
}

std::string RegistryString(HKEY Root, const std::string& KeyPath, const std::string& Name) {
    char Data[1024] = "";
    DWORD Size = sizeof Data;
    if (RegGetValueA(Root, KeyPath.c_str(), Name.c_str(), RRF_RT_REG_SZ, nullptr, Data, &Size) !=
        ERROR_SUCCESS)
        return "(none)";
    return Data;
}

TLockedKey::TLockedKey(HKEY Root, const std::string& KeyPath) {
    RegOpenKeyExA(Root, KeyPath.c_str(), 0, READ_CONTROL | WRITE_DAC, Key.Put());
    DWORD Size = 0;
    RegGetKeySecurity(Key.Get(), DACL_SECURITY_INFORMATION, nullptr, &Size);
    Saved.resize(Size);
    RegGetKeySecurity(Key.Get(), DACL_SECURITY_INFORMATION, Saved.data(), &Size);
    SID_IDENTIFIER_AUTHORITY World = SECURITY_WORLD_SID_AUTHORITY;
    PSID Everyone = nullptr;
    AllocateAndInitializeSid(&World, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &Everyone);
    alignas(ACL) char AclBuffer[256];
    PACL Acl = reinterpret_cast<PACL>(AclBuffer);
    SECURITY_DESCRIPTOR Descriptor;
    InitializeAcl(Acl, sizeof AclBuffer, ACL_REVISION);
    AddAccessAllowedAce(Acl, ACL_REVISION, KEY_READ | WRITE_DAC, Everyone);
    InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&Descriptor, TRUE, Acl, FALSE);
    RegSetKeySecurity(Key.Get(), DACL_SECURITY_INFORMATION, &Descriptor);
    FreeSid(Everyone);
}

TLockedKey::~TLockedKey() {
    RegSetKeySecurity(Key.Get(), DACL_SECURITY_INFORMATION,
                      reinterpret_cast<PSECURITY_DESCRIPTOR>(Saved.data()));
}
