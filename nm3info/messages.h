// nm3info's fixed texts.
#pragma once

namespace nm3info::text {

inline constexpr const char* help =
    "usage: nm3info [-l] [--json] ARCHIVE...   list the members of each archive\n"
    "       nm3info -t ARCHIVE...              check each archive\n"
    "       nm3info -x N ARCHIVE               write member N to standard output\n"
    "       nm3info -h | -V\n"
    "\n"
    "  -l, --list         number, offset, size, tag, version and the name unveskal\n"
    "                     gives each member, then a summary (the default)\n"
    "  -j, --json         the listing as one JSON document\n"
    "  -t, --test         say nothing of a sound archive, one line for each other\n"
    "  -x, --extract N    member N's bytes: 0 the index, 1 the route file, ...\n"
    "  -h, --help         this help (also /? on Windows)\n"
    "  -V, --version      the version\n"
    "  --                 the arguments after it are archives\n"
    "\n"
    "Nothing is ever written but to standard output and standard error.\n"
    "Exit status: 0 every archive sound, 1 one damaged or unreadable,\n"
    "2 a wrong command line.\n";

inline constexpr const char* version = "nm3info %s\n";

// What is wrong with the command line.
inline constexpr const char* misuse = "nm3info: %s\nTry 'nm3info --help'.\n";

// An archive that is not sound: its path as given, then why.
inline constexpr const char* notSound = "nm3info: %s: %s\n";

}  // namespace nm3info::text
