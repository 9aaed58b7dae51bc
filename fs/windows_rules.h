// Rules of the Windows side that need no system call: how a full path takes
// its extended form, which listed names lead back to their file, how a
// listing ends, which final path shows a name itself, and when a file's
// number identifies it. Every build compiles them, so that they are tested
// on any machine.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

namespace fs::windows {

// The extended form ("\\?\C:\...", "\\?\UNC\server\share\...") of a full
// path, which every call takes as it is: no length limit, no wildcards, no
// device names, no trailing dots or spaces removed. '/' becomes '\', runs of
// separators become one, and a bare drive becomes its root. A path already
// in that form stays as it is (but for a bare drive); one that isn't full
// comes back unchanged.
[[nodiscard]] std::string extendedPath(std::string_view fullPath);

// The part of a path in which '*' and '?' would be wildcards: everything
// after an extended path's prefix.
[[nodiscard]] std::string_view namePart(std::string_view path);

// UTF-8 of a UTF-16 name; nullopt when it holds an unpaired surrogate, which
// UTF-8 can't carry.
[[nodiscard]] std::optional<std::string> exactUtf8(std::u16string_view name);

// The UTF-16 of UTF-8 text; a byte that starts no whole sequence becomes
// U+FFFD.
[[nodiscard]] std::u16string utf16(std::string_view text);

// The UTF-8 shown for a name that exactUtf8 refuses: each unpaired
// surrogate becomes U+FFFD.
[[nodiscard]] std::string shownUtf8(std::u16string_view name);

// The same two for the system's wide strings, whose wchar_t units are
// UTF-16 on Windows.
[[nodiscard]] std::wstring wide(std::string_view text);
[[nodiscard]] std::string utf8(std::wstring_view text);

// A listed name that two entries share leads to only one of them (a system
// that can't show a name may show several as one): neither keeps its name.
void markSharedNames(std::vector<Entry>& entries);

// How one step of a listing ended.
enum class ListStep { entry, end, failed };

// The entries of a listing whose every step `next` takes, filling in the
// entry when it finds one; "." and ".." are left out, and names that the
// listing shows for more than one entry are marked. Only "no more entries"
// ends it: a failure at any step is the failure of the whole listing, not
// its end.
[[nodiscard]] std::optional<std::vector<Entry>> collectListing(const std::function<ListStep(Entry&)>& next);

// What the system says about an open file, for its identity.
struct IdentityFacts {
    std::uint64_t serial = 0;
    std::array<std::uint8_t, 16> id{};
    bool wideId = false;                    // the 128-bit id, not the older 64-bit index
    std::optional<std::string> fileSystem;  // nullopt when the volume can't be asked
    std::string finalPath;                  // empty when it can't be had
    // False when opening the final path reaches another file or none: Wine
    // leaves trailing dots and spaces out of final paths, so that "a.nm2."
    // shows the final path of "a.nm2".
    bool finalPathLeadsBack = true;
};

// Whether the volume serial and id surely identify the file. Not sure: a
// serial or id of 0 (Wine gives every file system without a disk serial 0,
// and their numbers overlap), a volume that can't be asked, FAT and exFAT
// (which number no files for good), and ReFS without the 128-bit id (its
// 64-bit index is not unique).
[[nodiscard]] bool numbersSure(const IdentityFacts& facts);

// Whether two sets of facts carry the same serial and id, sure or not.
[[nodiscard]] bool sameNumbers(const IdentityFacts& a, const IdentityFacts& b);

// How the last part of the final path of what a name opened compares with
// the name: the same, exactly (a folder may tell apart names that differ
// only in case); the same but for trailing dots and spaces, which Wine
// leaves out of final paths, so that the name may be itself or a link to the
// name without them; or another name, reached through a link.
enum class NameMatch { same, sameButTrailing, other };
[[nodiscard]] NameMatch matchName(std::wstring_view name, std::wstring_view reached);

// The file's identity: its volume serial and id where they are sure, and
// its final path where it leads back to the file, by which files are told
// apart where the numbers are not sure.
[[nodiscard]] FileId identityOf(const IdentityFacts& facts);

}  // namespace fs::windows
