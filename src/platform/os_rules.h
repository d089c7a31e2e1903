// What the file system and the text of the system the program is built for are like, as the
// code above the platform layer has to know them. Code asks these (with `if constexpr`) instead
// of testing the build target itself, so that every such difference is named here.
#pragma once

namespace qvx::os {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Folders of a local path are separated by "\" (and "/" too on Windows) or by "/" alone.
inline constexpr char kPathSep = kWindows ? '\\' : '/';
inline constexpr bool kBackslashSeparates = kWindows;
// A local path may start with a drive ("C:", "C:\").
inline constexpr bool kDriveLetters = kWindows;
// The file system drops trailing dots and spaces of a name: ".. " and "..." are "..".
inline constexpr bool kNamesLoseTrailingDotsAndSpaces = kWindows;
// The system's ANSI code page is double-byte (lead byte, trail byte) rather than UTF-8.
inline constexpr bool kDoubleByteCodePage = kWindows;
// Settings refused at start-up are shown in one message box (the console build prints each
// as it is read).
inline constexpr bool kSettingRefusalsInABox = kWindows;
// The default name-query command (NbtstatChgCmd).
inline constexpr const char* kNameQueryCommand = kWindows ? "NetNameQuery.exe" : "NetNameQuery";

}  // namespace qvx::os
