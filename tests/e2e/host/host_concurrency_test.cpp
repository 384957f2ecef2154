// Two or more host processes on one emulated phone at the same moment: every
// change lands, none overwrites another's.
#include "host_fixture.h"

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
TEST_F(HostCli, ConcurrentAddsFromSeveralProcessesAllLand) {
    const int kProcesses = 6;
    std::string script;
    for (int i = 0; i < kProcesses; ++i)
        script += "'" + HostProgram() + "' contacts add FIRSTNAME=Parallel" + std::to_string(i) + " >/dev/null 2>&1 & ";
    script += "wait";
    ASSERT_EQ(std::system(script.c_str()), 0);

    nlohmann::json listing = Json(Host({"--json", "contacts"}));
    int landed = 0;
    for (const auto &item : listing["items"])
        landed += item["title"].get<std::string>().rfind("Parallel", 0) == 0 ? 1 : 0;
    EXPECT_EQ(landed, kProcesses) << listing.dump();
}
#endif

}  // namespace
