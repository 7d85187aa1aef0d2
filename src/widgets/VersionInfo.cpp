#include "widgets/VersionInfo.h"

#ifndef CORVYNE_VERSION
#define CORVYNE_VERSION "0.0.0.0"
#endif

// Language 0x0804 (Simplified Chinese), code page 65001 (UTF-8).
#define CORVYNE_LANG "0804FDE9"

__attribute__((used)) static const char versionBlock[] =
    "CORVYNE-VERSIONINFO\0"
    "Translation=" CORVYNE_LANG
    "\0"
    "FileFlags=0\0" CORVYNE_LANG "\\CompanyName=Corvyne\0" CORVYNE_LANG
    "\\FileDescription=Corvyne FTP 客户端\0" CORVYNE_LANG "\\FileVersion=" CORVYNE_VERSION "\0" CORVYNE_LANG
    "\\InternalName=corvyne\0" CORVYNE_LANG "\\LegalCopyright=Copyright (C) Corvyne\0" CORVYNE_LANG
    "\\OriginalFilename=corvyne\0" CORVYNE_LANG "\\ProductName=Corvyne\0" CORVYNE_LANG
    "\\ProductVersion=" CORVYNE_VERSION "\0" CORVYNE_LANG
    "\\Comments=\0"
    "\0";

const char* ProgramVersionBlock()
{
    return versionBlock;
}
