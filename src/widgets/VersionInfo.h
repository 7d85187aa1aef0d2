#pragma once
// The program's version data, compiled into the executable as a block that
// any copy of the file carries: a marker, then NUL-separated "key=value"
// entries ("Translation", "FileFlags", and "<lang><codepage>\<key>" strings),
// ended by an empty entry. TVersionLabel reads it back from a file.

inline constexpr char VersionInfoMarker[] = "CORVYNE-VERSIONINFO";

// Forces the program's block into the executable (call once from main).
const char* ProgramVersionBlock();
