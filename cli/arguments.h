// The command line as the programs scan it.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The arguments in the platform's form turned into UTF-8, held for the run.
class Arguments {
public:
    Arguments(int argc, char** argv);
    int count() const { return static_cast<int>(values_.size()); }
    const char* const* vector() const { return pointers_.data(); }

private:
    std::vector<std::string> values_;
    std::vector<const char*> pointers_;
};

}  // namespace cli
