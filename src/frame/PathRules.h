// String rules for paths, for both path styles.
//
// On Linux a path uses "/" and is absolute when it begins with "/". The
// Windows rules (drive letters, "\\" as delimiter, UNC names, the "\\?\"
// prefix) stay available as pure functions: task files written on Windows
// and a future Win32 layer use them, and they are tested on every host.
// Every function takes the style as its last parameter; the default is the
// style of the host (kNativePathStyle).
//
// Decisions for the POSIX style:
// - The delimiter is "/"; SetDirName appends it, AddPath and MakePathName
//   join with it. A trailing "\\" is an ordinary character there.
// - Where the Windows rules test "begins with \\ or has a drive" (an
//   absolute name), the POSIX rules test "begins with /"; where they test
//   "contains \\" (has a folder part), the POSIX rules test "contains /".
#pragma once

#include <QString>

namespace kes {

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// "/" or "\\".
QChar PathDelimiter(PathStyle style = kNativePathStyle);

// Empty stays empty; otherwise the folder with a trailing delimiter.
QString SetDirName(const QString& folder, PathStyle style = kNativePathStyle);

// The folder when the name is empty, the name when the folder is empty,
// else SetDirName(folder) + name.
QString AddPath(const QString& folder, const QString& name, PathStyle style = kNativePathStyle);

// A leading "." is removed from the extension; a name without "." gets "."
// + extension (when that is not empty). An absolute name (Windows: holds a
// ":" or begins with "\\"; POSIX: begins with "/"), or an empty folder,
// gives the name alone; else folder + name with one delimiter between.
QString MakePathName(
    const QString& folder, const QString& name, const QString& extension, PathStyle style = kNativePathStyle);

// The part after the last delimiter (Windows: after the last "\\" or ":").
QString ExtractFileName(const QString& path, PathStyle style = kNativePathStyle);
// The part up to and including the last delimiter (Windows: or ":").
QString ExtractFilePath(const QString& path, PathStyle style = kNativePathStyle);
// The name with the extension of its file-name part replaced by extension
// (which includes its "."; empty removes the extension).
QString ChangeFileExt(const QString& path, const QString& extension, PathStyle style = kNativePathStyle);

// "C:" and the like at the start.
bool HasDriveLetter(const QString& path);
// "\\server\share..." (not the "\\?\" or "\\.\" device forms).
bool IsUncPath(const QString& path);
// The long-path prefix "\\?\".
bool HasLongPathPrefix(const QString& path);

// The rule for a settings location: Windows: relative unless it begins
// with "\\" or has a drive letter and ":"; POSIX: relative unless it begins
// with "/".
bool IsRelativeLocation(const QString& path, PathStyle style = kNativePathStyle);
// The rule for a path given in a start switch: Windows: absolute when it
// begins with "\\" or contains ":"; POSIX: when it begins with "/".
bool IsAbsoluteSwitchPath(const QString& path, PathStyle style = kNativePathStyle);

// A relative path taken below base (an absolute folder), with "." and ".."
// steps resolved; an absolute path only has its steps resolved.
QString ExpandFileName(const QString& path, const QString& base, PathStyle style = kNativePathStyle);

// Whether two paths name the same file by their text: compared without
// regard to case, after resolving "." and ".." steps and doubled
// delimiters.
bool SameFileName(const QString& a, const QString& b, PathStyle style = kNativePathStyle);

} // namespace kes
