#include "nm3info/command_line.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "cli/text.h"

namespace nm3info {

namespace {

enum class Option { list, json, test, extract, help, version };

struct Known {
    char letter;
    std::string_view name;
    Option option;
};

constexpr Known knownOptions[] = {
    {'l', "list", Option::list},       {'j', "json", Option::json}, {'t', "test", Option::test},
    {'x', "extract", Option::extract}, {'h', "help", Option::help}, {'?', "", Option::help},
    {'V', "version", Option::version},
};

// What the arguments asked for so far.
struct Reading {
    Job job;
    int modes = 0;                     // one bit per mode asked for
    std::optional<Action> wins;        // help or version, the first met
    std::optional<std::string> wrong;  // the first thing wrong
};

void fault(Reading& reading, std::string message) {
    if (!reading.wrong) reading.wrong = std::move(message);
}

// A decimal number and nothing else.
std::optional<std::uint64_t> memberNumber(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

void apply(Reading& reading, Option option, std::optional<std::string_view> value) {
    switch (option) {
    case Option::list: reading.modes |= 1 << static_cast<int>(Mode::list); return;
    case Option::test: reading.modes |= 1 << static_cast<int>(Mode::test); return;
    case Option::json: reading.job.json = true; return;
    case Option::help:
        if (!reading.wins) reading.wins = Help{};
        return;
    case Option::version:
        if (!reading.wins) reading.wins = Version{};
        return;
    case Option::extract:
        reading.modes |= 1 << static_cast<int>(Mode::extract);
        if (!value) return fault(reading, "option -x needs a member number");
        if (const std::optional<std::uint64_t> number = memberNumber(*value)) {
            reading.job.member = *number;
        } else {
            fault(reading, cli::formatText("-x needs a member number, not '%s'", std::string(*value).c_str()));
        }
        return;
    }
}

// "-abc": letters, the last of which may be -x with its number joined to it
// or in the next argument.
void readShort(Reading& reading, const std::vector<std::string>& arguments, std::size_t& i) {
    const std::string_view argument = arguments[i];
    for (std::size_t at = 1; at < argument.size(); ++at) {
        const Known* known = nullptr;
        for (const Known& option : knownOptions) {
            if (option.letter == argument[at]) known = &option;
        }
        if (known == nullptr) return fault(reading, cli::formatText("unknown option -%c", argument[at]));
        std::optional<std::string_view> value;
        if (known->option == Option::extract) {
            if (at + 1 < argument.size()) {
                value = argument.substr(at + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            }
            apply(reading, known->option, value);
            return;
        }
        apply(reading, known->option, value);
    }
}

// "--name" or "--name=value"; only --extract takes a value, from the next
// argument when it has none of its own.
void readLong(Reading& reading, const std::vector<std::string>& arguments, std::size_t& i) {
    const std::string_view argument = std::string_view(arguments[i]).substr(2);
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) value = argument.substr(equals + 1);
    for (const Known& option : knownOptions) {
        if (option.name.empty() || option.name != name) continue;
        if (option.option != Option::extract && value) {
            return fault(reading, cli::formatText("option --%s takes no value", std::string(name).c_str()));
        }
        if (option.option == Option::extract && !value && i + 1 < arguments.size()) value = arguments[++i];
        return apply(reading, option.option, value);
    }
    fault(reading, cli::formatText("unknown option --%s", std::string(name).c_str()));
}

// The action the whole line asks for, once every argument is read.
Action decided(Reading& reading) {
    if (reading.wins) return *reading.wins;
    if (reading.wrong) return Misuse{*reading.wrong};
    Job& job = reading.job;
    switch (reading.modes) {
    case 0:
    case 1 << static_cast<int>(Mode::list): job.mode = Mode::list; break;
    case 1 << static_cast<int>(Mode::test): job.mode = Mode::test; break;
    case 1 << static_cast<int>(Mode::extract): job.mode = Mode::extract; break;
    default: return Misuse{"-l, -t and -x can't be used together"};
    }
    if (job.json && job.mode != Mode::list) return Misuse{"--json goes with the listing only"};
    if (job.archives.empty()) return Misuse{"no archive given"};
    if (job.mode == Mode::extract && job.archives.size() != 1) return Misuse{"-x takes exactly one archive"};
    return std::move(job);
}

}  // namespace

Action readCommandLine(const std::vector<std::string>& arguments, cli::OptionStyle style) {
    Reading reading;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            if (!optionsEnded && style == cli::OptionStyle::dashOrSlash && argument == "/?") {
                apply(reading, Option::help, std::nullopt);
            } else {
                reading.job.archives.push_back(argument);
            }
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument[1] == '-') {
            readLong(reading, arguments, i);
        } else {
            readShort(reading, arguments, i);
        }
    }
    return decided(reading);
}

}  // namespace nm3info
