// The unpacker's fixed texts.
#pragma once

#include <cinttypes>

namespace unpacker::text {

inline constexpr const char* usage = "usage:\n %s%s [ -? | -h | filename.nm3 ]\n\n";

inline constexpr const char* archiveName = "NM3 file name : %s\n";
inline constexpr const char* folderPath = "Folder path   : %s\n";
inline constexpr const char* tagOk = "Check NM3 tag - Ok\n";
// Sizes and counts are 64-bit; below 4 GiB and 2^32 entries they print as
// "%08lx" and "%u" would on a 32-bit system.
inline constexpr const char* fileSize = " - fileSize = [0x%08" PRIx64 "]\n";
inline constexpr const char* footerSize = " - footerSize (count) = [%" PRIu64 "]\n";

// Member file names: the folder, the platform's separator, then the name.
inline constexpr const char* indexFileName = "%s%cindex.%03u.nti";
inline constexpr const char* nm2FileName = "%s%c%s_%05u.nm2";

inline constexpr const char* indexProgress = "   - nti file [index.%03u.nti]";
inline constexpr const char* nm2Progress = "   - nm2 file #%05u [%s_%05u.nm2]";
inline constexpr const char* ok = " - Ok\n";

inline constexpr const char* notDirectory = " This path is NOT directory.\n";
inline constexpr const char* notFound = " File %s NOT found.\n";
inline constexpr const char* seekStart = " Error seek 0 file %s.\n";
inline constexpr const char* shortHeader = " Error reading header file %s.\n";
inline constexpr const char* notArchive = " Not NM3 file: %s.\n";
inline constexpr const char* seekEnd = " Error seek SEEK_END file %s.\n";
inline constexpr const char* badFileSize = " Error get filesize file %s.\n";
inline constexpr const char* badFooterSize = " Error calculate footerSize file %s.\n";
inline constexpr const char* noTableMemory = " Error allocate memory for footer file %s.\n";
inline constexpr const char* seekFooter = " Error seek offsetFooter file %s.\n";
inline constexpr const char* shortFooter = " Error read footer file %s.\n";
inline constexpr const char* invalidFooter = " Error invalid footer file %s.\n";
inline constexpr const char* seekIndexFirst = " Error seek nti-begin (1) file %s.\n";
inline constexpr const char* shortIndexHeader = " Error fread nti header file %s.\n";
inline constexpr const char* badIndexTag = " No valid index in file: %s.\n";
inline constexpr const char* seekIndexSecond = " Error seek nti-begin (2) file %s.\n";
inline constexpr const char* notCreated = " File %s NOT created.\n";
inline constexpr const char* writeError = " Error write file %s.\n";
inline constexpr const char* readError = " Error read file %s.\n";
inline constexpr const char* interrupted = " Interrupted.\n";

}  // namespace unpacker::text
