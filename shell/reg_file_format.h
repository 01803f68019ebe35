#pragma once

#include "shell/bytes.h"
#include "shell/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// The Windows .reg text format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Brindlewood\CHWR\1.0]
//   "CHWR-DBOption"="1"
//   "Count"=dword:00000001
//   "Blob"=hex:01,02,ff
//   @="the key's default value"
//
// Lines starting with ';' are comments. Long hex lists continue on the next line after
// a trailing backslash. "name"=- and [-KEY] delete a value or key when Windows imports
// the file; here they simply leave it absent.

// The first line of the files that regedit 5 and later export, and of every file written here.
inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";
// The first line of the older format, still accepted when read.
inline constexpr std::string_view kRegFileHeaderVersion4 = "REGEDIT4";
// Windows keeps the classes of HKEY_CLASSES_ROOT under this key of HKEY_LOCAL_MACHINE;
// keys exported from HKEY_CLASSES_ROOT are read into it.
inline constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";
inline constexpr std::string_view kMachineClassesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";

struct RegFileParse {
    RegistryFileContents contents;
    // One message per line that could not be understood ("line 7: ..."). Such lines are
    // left out; a file without the header line yields no keys at all.
    std::vector<std::string> problems;
};

// Reads a .reg file. Files exported by regedit are UTF-16 with a byte order mark; their
// text is turned into UTF-8, the text of this system. An export appended to the file is
// read too, each part in its own encoding (a part starts at a byte order mark), and its
// own first line ("Windows Registry Editor Version 5.00") is passed over.
RegFileParse parseRegFile(ByteView bytes);

// Writes the contents as a .reg file that parseRegFile reads back to the same keys,
// values and comments.
Bytes formatRegFile(const RegistryFileContents& contents);

} // namespace chwr
