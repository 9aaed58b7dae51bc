#include "testing/fault_loop.h"

#include <gtest/gtest.h>

#include <functional>

namespace testsupport {

void FaultAtlas::addTo(testsupport::MemoryFileSystem& files, const std::string& folder) const {
    files.addDir(folder + "/maps.nm2");
    for (const auto& [name, bytes] : members) files.addFile(folder + "/" + name, bytes);
}

std::string summary(const std::map<std::string, std::string>& tree) {
    std::string text;
    for (const auto& [path, what] : tree) {
        const bool shown = what == "<dir>" || what == "<fifo>" || what.starts_with("-> ");
        text +=
            path + " " +
            (shown ? what : std::to_string(what.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(what))) +
            "\n";
    }
    return text;
}

std::string withPath(std::string_view format, const std::string& path) {
    std::string text;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format.substr(at, 2) == "%s") {
            text += path;
            ++at;
        } else {
            text += format[at];
        }
    }
    return text;
}

std::vector<std::string> messagesFor(const std::vector<const char*>& formats, const std::vector<std::string>& paths) {
    std::vector<std::string> messages;
    for (const char* format : formats) {
        for (const std::string& path : paths) messages.push_back(withPath(format, path));
    }
    return messages;
}

namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace

void expectOneMessage(const std::string& said, const std::string& faultless, const std::vector<std::string>& messages) {
    std::size_t count = 0;
    std::string last;
    for (const std::string& message : messages) {
        count += occurrences(said, message);
        if (said.ends_with(message)) last = message;
    }
    ASSERT_FALSE(last.empty()) << "no defined message ends the transcript:\n" << said;
    EXPECT_EQ(count, 1u) << said;
    const std::string before = said.substr(0, said.size() - last.size());
    EXPECT_TRUE(faultless.starts_with(before)) << "transcript strays from the run without faults:\n" << said;
}

}  // namespace testsupport
