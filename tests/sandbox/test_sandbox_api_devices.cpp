// Sandbox API: the tool's catalogue and version reports, owner, device list, content and suite.
#include "sandbox_api_fixture.h"

namespace krevol::sandbox {
namespace {

namespace fs = std::filesystem;

TEST_F(SandboxApi, CatalogueDownloadReportAndTheItemIsUpToDate) {
    const Session s = demo();
    const std::string before = catalogueOf(s, kDemoSerial);
    ASSERT_EQ(statusOf(before), 200) << before;
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(before, elements));
    ASSERT_EQ(elements.size(), 4u) << before;

    const std::string item = element(before, "101");
    EXPECT_EQ(quoted(item, "param1"), "BENZ Key Programming");
    EXPECT_EQ(quoted(item, "param2"), "2");
    EXPECT_EQ(quoted(item, "param3"), "0.00");
    EXPECT_EQ(quoted(item, "param4"), "2.10");
    EXPECT_EQ(quoted(item, "isrom"), "0");
    EXPECT_EQ(quoted(element(before, "104"), "isrom"), "1");
    EXPECT_EQ(quoted(element(before, "103"), "param2"), "1");

    const std::string url = quoted(item, "softurl");
    ASSERT_EQ(url.substr(url.rfind('/') + 1), "BENZ_V2.10.zip");
    auto r = fetch(url);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    ASSERT_TRUE(r->has_header("Content-Length"));
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(r->body.size()));
    EXPECT_EQ(r->body, fileBytes(packagesPath(dir_.path()) / "BENZ_V2.10.zip"));
    const auto entries = unzipAll(r->body, dir_.path() / "scratch.zip");
    EXPECT_EQ(entries.count("<damaged>"), 0u);
    ASSERT_EQ(entries.count("obdtool/vehicle/BENZ/BENZ.ini"), 1u);
    EXPECT_NE(entries.at("obdtool/vehicle/BENZ/BENZ.ini").find("version=2.10"), std::string::npos);
    for (const auto& [name, content] : entries) EXPECT_EQ(name.rfind("obdtool/", 0), 0u) << name;

    std::string id;
    ASSERT_TRUE(rawValue(item, "id", id));
    const std::string report =
        call("cartypesoft/synchCarSoftVersion",
             fill(test::kVersionReport,
                  {s.userId, s.token, id, kDemoSerial, "1", quoted(item, "param4"), quoted(item, "isrom")}));
    EXPECT_EQ(statusOf(report), 200) << report;

    const std::string after = catalogueOf(s, kDemoSerial);
    const std::string updated = element(after, "101");
    EXPECT_NE(quoted(updated, "param2"), "2");
    EXPECT_EQ(quoted(updated, "param3"), "2.10");
    EXPECT_EQ(quoted(updated, "paramView3"), "2.10");
    EXPECT_EQ(quoted(element(after, "102"), "param2"), "2");  // the others are as they were
}

// The demo tool's card holds what the server lists as installed on it: every file of an installed
// entry's package path is there, stating the installed version (the package's own bytes when that
// is the newest), and nothing of an entry that is not installed.
TEST_F(SandboxApi, TheDemoCardHoldsWhatTheServerListsAsInstalled) {
    const fs::path card = volumesPath(dir_.path()) / kDemoVolumeName;
    const std::string answer = catalogueOf(demo(), kDemoSerial);
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(answer, elements)) << answer;
    ASSERT_FALSE(elements.empty());
    int installedEntries = 0;
    for (const std::string& e : elements) {
        const std::string name = quoted(e, "param1");
        const std::string installed = quoted(e, "param3");
        const std::string newest = quoted(e, "param4");
        SCOPED_TRACE(name + " " + installed + " / " + newest);
        auto r = fetch(quoted(e, "softurl"));
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200);
        std::map<std::string, std::string> files;
        for (const auto& [entry, bytes] : unzipAll(r->body, dir_.path() / "scratch.zip"))
            if (!entry.ends_with("/")) files[entry] = bytes;
        ASSERT_FALSE(files.empty());
        if (installed.find_first_not_of("0.") == std::string::npos) {
            for (const auto& [path, bytes] : files) EXPECT_FALSE(fs::exists(card / path)) << path;
            continue;
        }
        ++installedEntries;
        bool statesInstalled = false;
        for (const auto& [path, bytes] : files) {
            ASSERT_TRUE(fs::is_regular_file(card / path)) << path;
            const std::string onCard = fileBytes(card / path);
            statesInstalled |= onCard.find(installed) != std::string::npos;
            if (installed == newest)
                EXPECT_EQ(onCard, bytes) << path;
            else
                EXPECT_EQ(onCard.find(newest), std::string::npos) << path << " holds the newest version";
        }
        EXPECT_TRUE(statesInstalled) << "no file on the card names version " << installed;
    }
    EXPECT_GT(installedEntries, 0);
}

TEST_F(SandboxApi, CatalogueAndReportRefusals) {
    const Session s = demo();
    EXPECT_EQ(statusOf(catalogueOf(s, kOtherSerial)), 12);
    EXPECT_EQ(statusOf(catalogueOf(s, "1001000000000000")), 11);
    Session forged = s;
    forged.token = "\"" + std::string(32, 'a') + "\"";
    EXPECT_EQ(statusOf(catalogueOf(forged, kDemoSerial)), 401);
    Session otherUser = s;
    otherUser.userId = "999";
    EXPECT_EQ(statusOf(catalogueOf(otherUser, kDemoSerial)), 401);

    const auto report = [&](const std::string& entry, const std::string& serial) {
        return statusOf(
            call("cartypesoft/synchCarSoftVersion",
                 fill(test::kVersionReport, {s.userId, s.token, entry, serial, "1", "9.99", "0"})));
    };
    EXPECT_EQ(report("999", kDemoSerial), 13);
    EXPECT_EQ(report("201", kDemoSerial), 13);       // an entry of another tool
    EXPECT_EQ(report("\"101\"", kDemoSerial), 200);  // a quoted id is sent back as it came
    EXPECT_EQ(report("201", kOtherSerial), 12);
    EXPECT_EQ(report("101", "1001000000000000"), 11);
    EXPECT_EQ(quoted(element(catalogueOf(s, kDemoSerial), "101"), "param3"), "9.99");
}

TEST_F(SandboxApi, OwnerQueryWithTheSerialInsertedBare) {
    struct Case {
        const char* serial;
        int status;
        const char* owner;
        const char* model;
    };
    const Case cases[] = {
        {kDemoSerial, 200, kDemoEmail, "K1 Pro"},   {kOtherSerial, 200, kOtherEmail, "K9 Max"},
        {kUnownedSerial, 200, "", "K1 Lite"},       {"1001000000000000", 11, nullptr, nullptr},
        {"ABCDEF0123456789", 11, nullptr, nullptr},  // not a JSON number: still read as the serial
    };
    for (const Case& c : cases) {
        const std::string answer = call("deviceuser/selectUserBySn", fill(test::kOwner, {c.serial}));
        EXPECT_EQ(statusOf(answer), c.status) << c.serial << ": " << answer;
        if (c.owner == nullptr) continue;
        EXPECT_EQ(quoted(answer, "username"), c.owner) << answer;
        EXPECT_EQ(quoted(answer, "deviceType"), c.model) << answer;
    }
}

TEST_F(SandboxApi, DeviceListHoldsTheAccountsToolsOnly) {
    const Session s = demo();
    const std::string answer =
        call("deviceuser/selectDeviceByUserId", fill(test::kDeviceList, {s.userId, s.token, s.userId}));
    ASSERT_EQ(statusOf(answer), 200) << answer;
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(answer, elements));
    std::vector<std::string> serials;
    for (const std::string& e : elements) {
        serials.push_back(quoted(e, "sn"));
        EXPECT_NE(quoted(e, "type"), "<missing>");
        EXPECT_NE(quoted(e, "name"), "<missing>");
        std::string created;
        ASSERT_TRUE(rawValue(e, "createTime", created)) << e;
        EXPECT_EQ(created.size(), 13u) << created;  // milliseconds
    }
    EXPECT_EQ(serials, (std::vector<std::string>{"1001202300000011", "9002202300000022", kDemoSerial}));

    Session forged = s;
    forged.token = "\"nope\"";
    EXPECT_EQ(statusOf(call("deviceuser/selectDeviceByUserId",
                            fill(test::kDeviceList, {forged.userId, forged.token, forged.userId}))),
              401);
    const Session other = signIn(kOtherEmail, kOtherPassword);
    EXPECT_EQ(statusOf(call("deviceuser/selectDeviceByUserId",
                            fill(test::kDeviceList, {s.userId, s.token, other.userId}))),
              401);  // userId must be the signed-in user's
}

TEST_F(SandboxApi, ContentBytesAsHex) {
    const std::string answer = call("tooluser/selectContentBySn", fill(test::kContent, {kDemoSerial}));
    ASSERT_EQ(statusOf(answer), 200);
    const std::string hex = quoted(answer, "param");
    ASSERT_EQ(hex.size() % 2, 0u);
    ASSERT_GT(hex.size(), 0u);
    ASSERT_LE(hex.size(), 102400u);
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    EXPECT_EQ(bytes.rfind(std::string("KRVDEV01") + kDemoSerial, 0), 0u);
    const std::string other =
        quoted(call("tooluser/selectContentBySn", fill(test::kContent, {kOtherSerial})), "param");
    EXPECT_NE(other, hex);
    EXPECT_EQ(statusOf(call("tooluser/selectContentBySn", fill(test::kContent, {"1001000000000000"}))), 11);
}

TEST_F(SandboxApi, SuiteVersionAndItsPackageWithTheInstaller) {
    const std::string answer = call("pctool/selectUpgradeTool", fill(test::kSuite, {"0"}));
    ASSERT_EQ(statusOf(answer), 200);
    const auto path = answer.find("\"packagePath\":\"");
    ASSERT_NE(path, std::string::npos);
    std::string version;
    ASSERT_TRUE(test::quotedValue(answer.substr(path + 15), "versionId", version)) << answer;
    EXPECT_EQ(version, kSuiteVersion);
    EXPECT_LT(std::string("4.3.0"), version);  // newer as the suite compares: as text

    auto r = fetch(quoted(answer, "packagePath"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(r->body.size()));
    std::map<std::string, unsigned long> attributes;
    const auto entries = unzipAll(r->body, dir_.path() / "suite.zip", &attributes);
    ASSERT_EQ(entries.count("setup.exe"), 1u);
    EXPECT_EQ(entries.at("setup.exe").rfind("#!/bin/sh", 0), 0u);
    EXPECT_NE((attributes.at("setup.exe") >> 16) & 0100, 0u);  // executable on Unix

    EXPECT_EQ(statusOf(call("pctool/selectUpgradeTool", fill(test::kSuite, {"7"}))), 15);
}

}  // namespace
}  // namespace krevol::sandbox
