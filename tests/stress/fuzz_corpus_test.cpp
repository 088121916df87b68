#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/net_message.h"
#include "session_driver.h"

namespace tw {
namespace {

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(TW_FUZZ_CORPUS)) {
        if (entry.is_regular_file()) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::uint8_t> read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(FuzzCorpus, HoldsASeedForEveryKind) {
    const auto all = seeds();
    for (std::int32_t kind = KIND_CHAT; kind <= KIND_PEER_TIMED_OUT; ++kind) {
        const std::string prefix = "kind-" + std::to_string(kind) + "-";
        EXPECT_TRUE(std::any_of(
            all.begin(), all.end(),
            [&](const auto& path) { return path.filename().string().rfind(prefix, 0) == 0; }))
            << "no seed for kind " << kind;
    }
}

// A broken rule aborts the driver, and with it this test.
TEST(FuzzCorpus, EverySeedKeepsEveryRuleAsServerAndAsClient) {
    const auto all = seeds();
    ASSERT_FALSE(all.empty());
    for (const auto& path : all) {
        SCOPED_TRACE(path.filename().string());
        const auto input = read_all(path);
        ASSERT_FALSE(input.empty());
        fuzz::run_session(input, true);
        fuzz::run_session(input, false);
    }
}

}  // namespace
}  // namespace tw
