// The .reg text the host writes for the plug-in (registry.ini) and the emulated phone
// reads (registry.reg): the bytes written, and what a reader gets back from them.
#include "reg_text.h"

#include <gtest/gtest.h>

namespace {

TEST(RegText, SetsAStringKeepingTheRestAndReadsItBack) {
    const std::string agent = "Software\\Agent", path = "C:\\dtd \"x\"";
    EXPECT_EQ(host::SetRegString("", agent, "SAPATH", path),
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Agent]\n"
              "\"SAPATH\"=\"C:\\\\dtd \\\"x\\\"\"\n");
    const std::string windows =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Agent]\r\n"
        "\"Other\"=dword:0000002a\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n\"SAPATH\"=\"keep\"\r\n";
    const std::string added =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Agent]\n"
        "\"Other\"=dword:0000002a\n\"SAPATH\"=\"/d\"\n\n[HKEY_CURRENT_USER\\X]\n\"SAPATH\"=\"keep\"\n";
    EXPECT_EQ(host::SetRegString(windows, agent, "SAPATH", "/d"), added);
    std::string replaced = added;
    replaced.replace(replaced.find("\"/d\""), 4, "\"/e\"");
    EXPECT_EQ(host::SetRegString(added, agent, "SAPATH", "/e"), replaced);

    std::vector<std::string> read;
    host::RegData data;
    for (const host::RegLine &line : host::ReadRegText(host::SetRegString(windows, agent, "SAPATH", path) +
                                                       "\"Bytes\"=hex(7):61,\\\n  00,62\n@=\"\"\n"))
        if (line.kind == host::RegLine::Kind::kSection)
            read.push_back("[" + line.key + "]");
        else if (line.kind == host::RegLine::Kind::kValue && host::ReadRegData(line.data, &data))
            read.push_back(line.name + "=" + std::to_string(data.type) + ":" + data.bytes);
    EXPECT_EQ(read, (std::vector<std::string>{
                        "[HKEY_LOCAL_MACHINE\\Software\\Agent]", std::string("Other=4:*\0\0\0", 12), "SAPATH=1:" + path,
                        "[HKEY_CURRENT_USER\\X]", "SAPATH=1:keep", std::string("Bytes=7:a\0b", 11), "=1:"}));
}

}  // namespace
