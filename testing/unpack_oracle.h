// The outcome an archive's bytes call for when the unpacker splits it,
// worked out the plain way, independently of the unpacker, and the check of
// a whole run against it. The fuzz target and the in-process truncation and
// byte-change loops both use it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oracle {

// The message the unpacker must end with for an archive of these bytes at
// `archivePath`; nullopt when it must succeed.
std::optional<std::string> unpackFailure(std::string_view archive, const std::string& archivePath);

// Unpacks `archive` in memory from /maps/west.nm3 into a folder left from an
// earlier run (an old member file and a sub-folder) and returns what broke:
// the archive must stay as it was, the sub-folder stay and the old file go,
// and the run either succeed with the members, concatenated in order, equal
// to the payload, or fail after exactly the one message the bytes call for,
// having written no member. Before it, `nm3info -t` on the same tree must
// call the archive sound exactly when the unpack then succeeds, say one line
// when it doesn't, and leave every file as it was. Empty when nothing broke;
// otherwise the broken rule and the transcripts.
std::string checkUnpack(std::string_view archive);

}  // namespace oracle
