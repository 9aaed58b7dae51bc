// What the in-process fault loops over both programs share: the atlas they
// work on, every kind of call to fail, and the check that a failed run said
// exactly one of its messages after the start of the run without faults.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/faulty_file_system.h"
#include "testing/memory_file_system.h"
#include "testing/scratch.h"

namespace testsupport {

inline constexpr testsupport::CallKind everyCallKind[] = {
    testsupport::CallKind::open,  testsupport::CallKind::create, testsupport::CallKind::read,
    testsupport::CallKind::write, testsupport::CallKind::seek,   testsupport::CallKind::close,
    testsupport::CallKind::list,  testsupport::CallKind::remove, testsupport::CallKind::status};

// A small atlas: small members, and one larger than the copy engine moves
// through memory.
struct FaultAtlas {
    std::vector<std::pair<std::string, Bytes>> members{
        {"atlas.nti", memberBytes("NIDX", 60, 700, 1)},
        {"route.nm2", memberBytes("RTE1", 16, 40, 2)},
        {"big.nm2", memberBytes("MAP2", 17, 300 * 1024, 3)},
        {"small.nm2", memberBytes("MAP2", 18, 0, 4)},
    };
    // Writes the members into `folder`, with a sub-folder whose name matches
    // the members' and which the packer passes over.
    void addTo(testsupport::MemoryFileSystem& files, const std::string& folder) const;
};

// A tree in short: each path with its kind, or its size and a hash of its
// bytes, one a line, so that a difference shows without every byte.
std::string summary(const std::map<std::string, std::string>& tree);

// `format` with each "%s" replaced by `path`.
std::string withPath(std::string_view format, const std::string& path);

// Every message of `formats` for every path of `paths`.
std::vector<std::string> messagesFor(const std::vector<const char*>& formats, const std::vector<std::string>& paths);

// Checks that `said` is the start of `faultless` followed by exactly one of
// `messages`.
void expectOneMessage(const std::string& said, const std::string& faultless, const std::vector<std::string>& messages);

}  // namespace testsupport
