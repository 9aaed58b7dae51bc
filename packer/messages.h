// The packer's fixed texts.
#pragma once

namespace packer::text {

inline constexpr const char* usage =
    "usage:\n %s%s [ -? | -h | -i:indexfile.nti -r:routefile.nm2 -o:outfile.nm3 [foldername] ]\n\n";

inline constexpr const char* workingDir = " - working Dir: %s\n";
inline constexpr const char* atlasDir = " - atlas Dir  : %s\n";
inline constexpr const char* indexFile = " - indexFile: %s\n";
inline constexpr const char* routeFile = " - routeFile: %s\n";
inline constexpr const char* outFile = " - outFile  : %s\n";

inline constexpr const char* indexProgress = "   -   nti file [%s]";
inline constexpr const char* routeProgress = "   - route file [%s]";
inline constexpr const char* nm2Progress = "   -   nm2 file [%s]";
inline constexpr const char* ok = " - Ok\n";

inline constexpr const char* noWorkingDir = " Can't locate current working directory\n";
inline constexpr const char* noIndexOption = " Error: You must have -i: parameter\n";
inline constexpr const char* noRouteOption = " Error: You must have -r: parameter\n";
inline constexpr const char* noOutOption = " Error: You must have -o: parameter\n";
inline constexpr const char* notDirectory = " This path is NOT directory: %s\n";
inline constexpr const char* pathNotFound = " Path not found: %s\n";
inline constexpr const char* cantAccess = " Error: Can't access file: %s\n";
inline constexpr const char* cantCreate = " Error: Can't create file: %s\n";
inline constexpr const char* cantOpen = " Error open file %s.\n";
inline constexpr const char* shortIndexHeader = " Error read nti header file %s.\n";
inline constexpr const char* badIndexVersion = " Non valid version [0x%x] index file [%s].\n";
inline constexpr const char* shortNm2Header = " Error read nm2 header file %s.\n";
inline constexpr const char* badNm2Version = " Non valid version [0x%x] route file [%s].\n";
inline constexpr const char* noTableMemory = " Error allocate memory for footer file %s.\n";
inline constexpr const char* writeError = " Error write file %s.\n";
inline constexpr const char* readError = " Error read file %s.\n";
inline constexpr const char* tooLarge = " Error archive exceeds 4 GiB file %s.\n";
inline constexpr const char* interrupted = " Interrupted.\n";

}  // namespace packer::text
