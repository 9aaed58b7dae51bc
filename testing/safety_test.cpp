// The safety cases of fuzz/safety.h, from a fixed set of seeds.
#include "testing/safety.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(Safety, NoCaseLosesAUsersFileOrStraysFromTheGuards) {
    int broken = 0;
    for (unsigned seed = 0; seed < 400 && broken < 3; ++seed) {
        std::mt19937 random(seed);
        std::string choices(96, '\0');
        for (char& choice : choices) choice = static_cast<char>(random());
        const std::string what = safety::checkCase(choices);
        if (what.empty()) continue;
        ++broken;
        ADD_FAILURE() << "seed " << seed << ": " << what;
    }
}

}  // namespace
