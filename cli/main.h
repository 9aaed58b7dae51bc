// The process of every program.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Makes the standard streams safe, reads the arguments as UTF-8 (the
// program's own name first), runs `program` with them and returns its
// status once everything said is out. A process whose streams can't be made
// safe says nothing and ends with status 1: it could write its words into a
// file it opens.
[[nodiscard]] int main(int argc, char** argv, int (*program)(const std::vector<std::string>& arguments));

}  // namespace cli
