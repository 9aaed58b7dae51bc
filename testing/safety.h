// Random atlases and output folders on the file system held in memory, with
// hard links and symbolic links (chains, dangling, to directories, to the
// archive, the index, the route file and members, targets spelt any way),
// files bound over other names, files on another device than their folder,
// devices without file numbers, folders that can't be listed, other runs'
// locks and standard streams that are files, and random -o: and operand
// choices, each run by the packer or the unpacker. Whatever the
// outcome: no file but the archive (packer) or the folder's own files
// (unpacker) changed, the archive being unpacked is still there under the
// name given, a failed pack left no archive bytes anywhere, a pack that
// succeeded unpacks back to its members, and the outcome is the one the
// guards against an output naming an input and against emptying away the
// archive call for.
#pragma once

#include <string>
#include <string_view>

namespace safety {

// Builds one case from `choices` (any bytes; missing ones read as 0), runs
// it and returns what broke, with the case; empty when nothing broke.
std::string checkCase(std::string_view choices);

}  // namespace safety
