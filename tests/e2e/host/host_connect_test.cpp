// Why a connection failed, in words, through the built host; the emulator refuses
// an image it cannot take for a phone instead of inventing one.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

void ExpectConnectFailure(const HostRun &run, const std::string &reason) {
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
}

TEST_F(HostCli, ConnectFailuresSayWhy) {
    const std::string missing = (m_home.path() / "nonexistent").string();
    ExpectConnectFailure(Host({"--device", missing, "info"}), "the phone image is missing: " + missing);
    ExpectConnectFailure(Host({"--rapi", missing + "/libnothing.so", "info"}), "no RAPI provider");
    ExpectConnectFailure(Host({"--plugin", missing + "/libnothing.so", "info"}), "cannot load the plug-in");

    m_phone.EditDevice([](nlohmann::json &device) { device["link"]["initRefused"] = true; });
    ExpectConnectFailure(Host({"info"}), "the phone refused the link");
}

TEST_F(HostCli, ACorruptPhoneImageIsRefusedNotReplacedByDefaults) {
    const std::string device = ReadFileText(m_phone.path() / "device.json");
    WriteFileText(m_phone.path() / "device.json", "{ \"phoneNumber\": ");
    HostRun corruptDevice = Host({"info"});
    ExpectConnectFailure(corruptDevice, "device.json is not a JSON object");

    WriteFileText(m_phone.path() / "device.json", device);
    WriteFileText(m_phone.path() / "volumes" / "pim.vol.json", "[1, 2");
    HostRun corruptVolume = Host({"contacts"});
    ExpectConnectFailure(corruptVolume, "pim.vol.json");
    EXPECT_EQ(corruptVolume.out, "");
}

}  // namespace
