#include "nm3info/escape.h"

#include "cli/text.h"

namespace nm3info {

namespace {

std::string hexByte(unsigned char byte) { return cli::formatText("\\x%02X", unsigned{byte}); }

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at `at`; 0 when there is
// none (overlong forms, surrogates and values past U+10FFFF are not).
std::size_t sequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : static_cast<unsigned char>(0);
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return isContinuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return isContinuation(byte(1), low, high) && isContinuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return isContinuation(byte(1), low, high) && isContinuation(byte(2)) && isContinuation(byte(3)) ? 4 : 0;
    }
    return 0;
}

}  // namespace

std::string shownTag(const format::Tag& tag) {
    std::string shown;
    for (const unsigned char byte : tag) {
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            shown += static_cast<char>(byte);
        } else {
            shown += hexByte(byte);
        }
    }
    return shown;
}

std::string shownText(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControl(byte)) {
            shown += hexByte(byte);
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = sequenceAt(text, at);
        if (length == 0) {
            json += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += static_cast<char>(byte);
        } else if (byte < 0x20) {
            json += cli::formatText("\\u%04x", unsigned{byte});
        } else {
            json.append(text, at, length);
        }
        at += length;
    }
    return json + "\"";
}

}  // namespace nm3info
