// The link: start record, descriptor readiness, refusals and calls without a link.
#include "emulator_fixture.h"

#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#endif

namespace {

using namespace ceemu_test;

constexpr HRESULT kDeviceNotConnected = static_cast<HRESULT>(0x8007048Fu);  // from error 1167

class EmulatorLinkTest : public EmulatorTest {
protected:
    // A call that needs the link; its failure shows the link is not standing.
    bool DeviceAnswers() {
        STORE_INFORMATION info{};
        return api.CeGetStoreInformation(&info) != FALSE;
    }
    void ExpectLinkDown() {
        EXPECT_FALSE(DeviceAnswers());
        EXPECT_EQ(api.CeGetLastError(), 1167u);
        EXPECT_EQ(api.CeRapiGetError(), kDeviceNotConnected);
    }
};

TEST_F(EmulatorLinkTest, DescriptorBecomesReadableAfterTheDelayAndTheLinkThenStands) {
    phone.EditDevice([](nlohmann::json &device) { device["link"]["delayMs"] = 300; });
    RAPIINIT init{};
    init.cbSize = sizeof init;
    ASSERT_EQ(api.CeRapiInitEx(&init), 0);
    EXPECT_FALSE(LinkSignalled(init.heRapiInit, 0));
    ExpectLinkDown();

    ASSERT_TRUE(LinkSignalled(init.heRapiInit, 5000));
    EXPECT_EQ(init.hrRapiInit, 0);
    EXPECT_TRUE(DeviceAnswers());
    EXPECT_EQ(api.CeRapiGetError(), 0);

    EXPECT_EQ(api.CeRapiUninit(), 0);
    ExpectLinkDown();
#if !defined(_WIN32)
    // The provider owned the descriptor and closed it at CeRapiUninit.
    EXPECT_EQ(fcntl(static_cast<int>(reinterpret_cast<intptr_t>(init.heRapiInit)), F_GETFD), -1);
#endif
}

TEST_F(EmulatorLinkTest, NeverUpLeavesTheDescriptorSilentAndUninitIsAlwaysSafe) {
    EXPECT_EQ(api.CeRapiUninit(), 0);  // no link yet
    phone.EditDevice([](nlohmann::json &device) { device["link"]["neverUp"] = true; });
    RAPIINIT init{};
    init.cbSize = sizeof init;
    ASSERT_EQ(api.CeRapiInitEx(&init), 0);
    EXPECT_FALSE(LinkSignalled(init.heRapiInit, 200));
    ExpectLinkDown();
    EXPECT_EQ(api.CeRapiUninit(), 0);
    EXPECT_EQ(api.CeRapiUninit(), 0);
}

TEST_F(EmulatorLinkTest, RefusedStartReportsTheDeviceError) {
    phone.EditDevice([](nlohmann::json &device) { device["link"]["initRefused"] = true; });
    RAPIINIT init{};
    init.cbSize = sizeof init;
    EXPECT_EQ(api.CeRapiInitEx(&init), kDeviceNotConnected);
    EXPECT_EQ(api.CeGetLastError(), 1167u);

    phone.EditDevice([](nlohmann::json &device) { device["link"]["initRefused"] = 5; });
    EXPECT_EQ(api.CeRapiInitEx(&init), static_cast<HRESULT>(0x80070005u));
    EXPECT_EQ(api.CeGetLastError(), 5u);
    ExpectLinkDown();
    EXPECT_EQ(api.CeRapiInitEx(nullptr), static_cast<HRESULT>(0x80070057u));
}

TEST_F(EmulatorLinkTest, FailedLinkResultLeavesNoLink) {
    phone.EditDevice([](nlohmann::json &device) { device["link"]["result"] = "0x80004005"; });
    RAPIINIT init{};
    init.cbSize = sizeof init;
    ASSERT_EQ(api.CeRapiInitEx(&init), 0);
    ASSERT_TRUE(LinkSignalled(init.heRapiInit, 5000));
    EXPECT_EQ(init.hrRapiInit, CE_E_FAIL);
    ExpectLinkDown();
}

TEST_F(EmulatorLinkTest, SecondStartKeepsTheFirstDescriptorUntilUninit) {
    const RAPIINIT first = Connect();
    const RAPIINIT second = Connect();
    EXPECT_NE(first.heRapiInit, second.heRapiInit);
    EXPECT_TRUE(LinkSignalled(first.heRapiInit, 0));
    EXPECT_TRUE(DeviceAnswers());
}

TEST_F(EmulatorLinkTest, LastErrorBelongsToTheCallingThread) {
    Connect();
    CE_FIND_DATA data{};
    HANDLE missing = api.CeFindFirstFile(CE_TEXT("\\no such file"), &data);
    EXPECT_EQ(missing, INVALID_HANDLE_VALUE);
    uint32_t otherThreadError = 0;
    std::thread other([&] {
        api.CeFindFirstFile(CE_TEXT("\\no such folder\\file"), &data);
        otherThreadError = api.CeGetLastError();
    });
    other.join();
    EXPECT_EQ(otherThreadError, CE_ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_FILE_NOT_FOUND);
}

}  // namespace
