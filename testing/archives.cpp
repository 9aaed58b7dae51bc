#include "testing/archives.h"

#include <filesystem>
#include <set>

namespace testsupport {

namespace stdfs = std::filesystem;

Bytes headerOf(std::uint32_t offsetFooter, std::uint32_t reserved) {
    return Bytes("GNM3", 4) + u32le(reserved) + u32le(offsetFooter);
}

Bytes archiveOf(const std::vector<Bytes>& members) {
    Bytes payload;
    Bytes footer;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) footer += u32le(static_cast<std::uint32_t>(payload.size()));
        payload += members[i];
    }
    return headerOf(static_cast<std::uint32_t>(payload.size())) + payload + footer;
}

bool packedBefore(const std::string& left, const std::string& right) {
    const auto folded = [](std::string name) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return name;
    };
    const std::string a = folded(left);
    const std::string b = folded(right);
    return a != b ? a < b : left < right;
}

Files snapshot(const std::string& dir, std::uintmax_t largeFile) {
    Files files;
    if (!stdfs::exists(dir)) return files;
    for (const auto& entry : stdfs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir);
        if (entry.is_symlink()) {
            files[name] = "-> " + stdfs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            files[name] = "<dir>";
        } else if (entry.is_fifo()) {
            files[name] = "<fifo>";
        } else if (entry.file_size() > largeFile) {
            files[name] = "<" + std::to_string(entry.file_size()) + " bytes>";
        } else {
            files[name] = readFile(entry.path());
        }
    }
    return files;
}

std::string differences(const Files& actual, const Files& expected) {
    std::string text;
    const auto describe = [](const Files& files, const std::string& name) {
        const auto found = files.find(name);
        return found == files.end() ? std::string("missing") : std::to_string(found->second.size()) + " bytes";
    };
    std::set<std::string> names;
    for (const auto& entry : actual) names.insert(entry.first);
    for (const auto& entry : expected) names.insert(entry.first);
    for (const std::string& name : names) {
        const auto a = actual.find(name);
        const auto e = expected.find(name);
        if (a != actual.end() && e != expected.end() && a->second == e->second) continue;
        text += name + ": " + describe(actual, name) + ", expected " + describe(expected, name) + "\n";
    }
    return text;
}

const Bytes gone = "<gone>";

Files applied(Files before, const Files& changes) {
    for (const auto& [path, bytes] : changes) {
        if (bytes == gone) {
            before.erase(path);
        } else {
            before[path] = bytes;
        }
    }
    return before;
}

}  // namespace testsupport
