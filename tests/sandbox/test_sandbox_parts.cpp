// The sandbox's pieces without HTTP: stored passwords, the tolerant JSON reader, fault settings, the upload
// checks, the package archives and the layout of the answers as the suite reads them.
#include <gtest/gtest.h>
#include <unzip.h>

#include <fstream>
#include <map>
#include <set>

#include "sandbox/api_answers.h"
#include "sandbox/api_status.h"
#include "sandbox/fault_switches.h"
#include "sandbox/json_reader.h"
#include "sandbox/password_hash.h"
#include "sandbox/sandbox_store.h"
#include "sandbox/sqlite_db.h"
#include "sandbox/upload_check.h"
#include "sandbox/zip_writer.h"
#include "sandbox_test_support.h"
#include "support/file_bytes.h"

namespace krevol::sandbox {
namespace {

using krevol::test::fileBytes;
using test::fill;

TEST(SandboxSha256, KnownDigests) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: padding spills over
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) EXPECT_EQ(sha256Hex(c.input), c.digest) << c.input.substr(0, 20);
}

TEST(SandboxPassword, SaltedPbkdf2RecordChecksOnlyTheRightPassword) {
    StoredPassword first;
    StoredPassword second;
    ASSERT_TRUE(hashPassword("demo-pass-1", first));
    ASSERT_TRUE(hashPassword("demo-pass-1", second));
    EXPECT_EQ(first.salt.size(), 2 * kPasswordSaltBytes);
    EXPECT_NE(first.salt, second.salt) << "every password gets its own salt";
    EXPECT_NE(first.hash, second.hash);
    EXPECT_TRUE(first.hash.starts_with("pbkdf2-sha256$100000$")) << first.hash;
    EXPECT_EQ(first.hash.size(), std::string("pbkdf2-sha256$100000$").size() + 64) << first.hash;
    EXPECT_FALSE(isOldPasswordHash(first.hash));

    EXPECT_EQ(checkPassword("demo-pass-1", first), PasswordCheck::Right);
    EXPECT_EQ(checkPassword("demo-pass-1", second), PasswordCheck::Right);
    EXPECT_EQ(checkPassword("demo-pass-2", first), PasswordCheck::Wrong);
    EXPECT_EQ(checkPassword("", first), PasswordCheck::Wrong);
    EXPECT_EQ(checkPassword("demo-pass-1", StoredPassword{second.salt, first.hash}), PasswordCheck::Wrong)
        << "the salt belongs to the hash";
}

TEST(SandboxPassword, UnreadableRecordsNeverMatch) {
    StoredPassword good;
    ASSERT_TRUE(hashPassword("pw", good, 1000));
    const std::string key = good.hash.substr(good.hash.rfind('$') + 1);
    for (const std::string& hash : {
             std::string(), "pbkdf2-sha256$1000$" + key.substr(0, 62),  // key cut short
             "pbkdf2-sha256$1000$" + key.substr(0, 63) + "g",           // not hex
             "pbkdf2-sha256$$" + key,                                   // no count
             "pbkdf2-sha256$0$" + key,                                  // no rounds
             "pbkdf2-sha256$99999999999$" + key,                        // count beyond 32 bits
             "pbkdf2-sha256$20000000$" + key,                           // more work than allowed
             "pbkdf2-sha256$1000x$" + key,                              // count with a tail
             "pbkdf2-sha1$1000$" + key,                                 // another scheme
             key.substr(0, 63),                                         // neither form
         }) {
        EXPECT_EQ(checkPassword("pw", StoredPassword{good.salt, hash}), PasswordCheck::Wrong) << hash;
    }
}

TEST(SandboxPassword, OldAndWeakerRecordsAreRightButAskToBeStoredAgain) {
    // Earlier sandboxes kept a bare SHA-256 of "<salt>:<password>".
    const StoredPassword old{"0123456789abcdef0123456789abcdef",
                             sha256Hex("0123456789abcdef0123456789abcdef:demo-pass-1")};
    EXPECT_TRUE(isOldPasswordHash(old.hash));
    EXPECT_EQ(checkPassword("demo-pass-1", old), PasswordCheck::RightButOld);
    EXPECT_EQ(checkPassword("demo-pass-2", old), PasswordCheck::Wrong);
    EXPECT_EQ(checkPassword("demo-pass-1", StoredPassword{"other", old.hash}), PasswordCheck::Wrong);

    StoredPassword fewRounds;
    ASSERT_TRUE(hashPassword("demo-pass-1", fewRounds, 1000));
    EXPECT_EQ(checkPassword("demo-pass-1", fewRounds), PasswordCheck::RightButOld);
    EXPECT_EQ(checkPassword("demo-pass-2", fewRounds), PasswordCheck::Wrong);
}

// A database seeded by an earlier sandbox: its accounts still sign in, and the first sign-in
// replaces the old hash by a PBKDF2 record.
TEST(SandboxPassword, OldDatabaseSignsInAndIsUpgraded) {
    test::TempDir dir;
    const std::string path = (dir.path() / "sandbox.db").string();
    const std::string salt = "00112233445566778899aabbccddeeff";
    {
        SandboxStore store;
        std::string error;
        ASSERT_TRUE(store.open(path, error)) << error;
        SeedData data;
        data.accounts = {{"old@krevol.test", "placeholder"}};
        ASSERT_TRUE(store.seed(data, error)) << error;
    }
    const auto storedHash = [&] {
        SqliteDb db;
        EXPECT_TRUE(db.open(path));
        SqliteStatement q(db, "SELECT salt, pwhash FROM accounts WHERE email = 'old@krevol.test'");
        EXPECT_TRUE(q.nextRow());
        return std::make_pair(q.text(0), q.text(1));
    };
    {
        SqliteDb db;
        ASSERT_TRUE(db.open(path));
        SqliteStatement u(db, "UPDATE accounts SET salt = ?, pwhash = ?");
        u.bind(1, salt).bind(2, sha256Hex(salt + ":old-pass-1"));
        ASSERT_TRUE(u.run());
    }

    SandboxStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, error)) << error;
    SignIn signIn;
    EXPECT_EQ(store.login("old@krevol.test", "old-pass-2", signIn), status::kWrongPassword);
    EXPECT_EQ(storedHash().second, sha256Hex(salt + ":old-pass-1")) << "a wrong password changes nothing";

    ASSERT_EQ(store.login("old@krevol.test", "old-pass-1", signIn), status::kOk);
    const auto [newSalt, newHash] = storedHash();
    EXPECT_NE(newSalt, salt);
    EXPECT_TRUE(newHash.starts_with("pbkdf2-sha256$100000$")) << newHash;

    EXPECT_EQ(store.login("old@krevol.test", "old-pass-1", signIn), status::kOk);
    EXPECT_EQ(store.login("old@krevol.test", "old-pass-2", signIn), status::kWrongPassword);
    EXPECT_EQ(storedHash().second, newHash);
}

TEST(SandboxJsonReader, ReadsTheSuitesUserRecordWithBareIdAndTokenAndTwoBgImg) {
    const std::string body = fill(test::kUserRecord, {"17", "\"tok\"", "17", "a@b.c", "old", "new"});
    JsonValue doc;
    std::string error;
    ASSERT_TRUE(parseJson(body, doc, error)) << error;
    const JsonValue* data = doc.find("data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->find("usersId")->kind, JsonValue::Kind::Number);
    EXPECT_EQ(data->find("usersId")->text, "17");
    EXPECT_EQ(data->find("token")->kind, JsonValue::Kind::String);
    EXPECT_EQ(data->find("token")->text, "tok");
    EXPECT_EQ(data->find("oldPwd")->text, "old");
    int bgImg = 0;
    for (const auto& m : data->members) bgImg += m.first == "bgImg" ? 1 : 0;
    EXPECT_EQ(bgImg, 2);
}

TEST(SandboxJsonReader, TakesAnUnquotedSerialAsItsRawText) {
    struct Case {
        const char* serial;
        JsonValue::Kind kind;
    };
    const Case cases[] = {
        {"1001202412345678", JsonValue::Kind::Number},
        {"1234567890ABCDEF", JsonValue::Kind::Bare},
        {"0012345678901234", JsonValue::Kind::Bare},  // a leading zero is no JSON number; kept as text
        {"12AB-34 cd", JsonValue::Kind::Bare},
    };
    for (const Case& c : cases) {
        JsonValue doc;
        std::string error;
        ASSERT_TRUE(parseJson(fill(test::kOwner, {c.serial}), doc, error)) << c.serial << ": " << error;
        const JsonValue* id = doc.find("data")->find("deviceId");
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->kind, c.kind) << c.serial;
        EXPECT_EQ(id->text, c.serial);
    }
}

TEST(SandboxJsonReader, RefusesBrokenDocuments) {
    const char* broken[] = {
        "",
        "{",
        "{\"data\":{\"username\":\"a\"}",         // one brace short
        "{\"data\":{\"username\":\"a\"}}}",       // one too many
        "{data:{}}",                              // unquoted member name
        "{\"data\" {}}",                          // no colon
        "{\"data\":{\"username\":\"a\r\n\"}}",    // line end inside a text
        "{\"data\":{\"username\":\"\\q\"}}",      // unknown escape
        "{\"data\":{\"username\":\"\\ud800\"}}",  // lone surrogate
        "{\"data\":{\"a\":1,}}",                  // nothing after a comma
        "{\"data\":{\"a\":x\"y}}",                // a quote inside a bare word
        "{\"data\":[1,2}",
    };
    for (const char* text : broken) {
        JsonValue doc;
        std::string error;
        EXPECT_FALSE(parseJson(text, doc, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(SandboxJsonReader, RefusesDeepNestingWithoutOverflowingTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    JsonValue doc;
    std::string error;
    EXPECT_FALSE(parseJson(deep, doc, error));
    EXPECT_NE(error.find("deep"), std::string::npos) << error;
}

TEST(SandboxJsonReader, DecodesEscapesAndQuotesBack) {
    JsonValue doc;
    std::string error;
    ASSERT_TRUE(parseJson(R"({"t":"a\"b\\c\u00e9\ud83d\ude00\n"})", doc, error)) << error;
    EXPECT_EQ(doc.find("t")->text, "a\"b\\c\xc3\xa9\xf0\x9f\x98\x80\n");
    EXPECT_EQ(jsonQuoted("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

TEST(SandboxFaultOption, ReadsSettingsAndRefusesUnknownOnes) {
    FaultSwitch f;
    std::string error;
    ASSERT_TRUE(parseFaultOption(
        "/krevol-manager-api/user/login:delayMs=250,status=503,cutBody,noLength=1,count=2", f, error))
        << error;
    EXPECT_EQ(f.path, "user/login");
    EXPECT_EQ(f.delayMs, 250);
    EXPECT_EQ(f.status, 503);
    EXPECT_TRUE(f.cutBody);
    EXPECT_TRUE(f.noLength);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.rateKiBps, 0);
    ASSERT_TRUE(parseFaultOption("download/*:rateKiBps=512", f, error)) << error;
    EXPECT_EQ(f.path, "download/*");
    EXPECT_EQ(f.rateKiBps, 512);
    ASSERT_TRUE(
        parseFaultOption("download/*:dieAfterBytes=5000000000,garbage,emptyBody=0,hugeBody=1", f, error))
        << error;
    EXPECT_EQ(f.dieAfterBytes, 5000000000);
    EXPECT_EQ(f.stallAfterBytes, -1);
    EXPECT_TRUE(f.garbage);
    EXPECT_FALSE(f.emptyBody);
    EXPECT_TRUE(f.hugeBody);
    ASSERT_TRUE(parseFaultOption("*:stallAfterBytes=0,stallMs=12000", f, error)) << error;
    EXPECT_EQ(f.stallAfterBytes, 0);
    EXPECT_EQ(f.stallMs, 12000);
    EXPECT_EQ(f.dieAfterBytes, -1);
    for (const char* bad :
         {"", ":status=500", "user/login:status=42", "user/login:delay=1", "x:count=0", "x:delayMs=-1",
          "x:cutBody=yes", "x:status=abc", "x:rateKiBps=-1", "x:rateKiBps=fast", "x:rateKiBps=1048577",
          "x:dieAfterBytes=-1", "x:dieAfterBytes=", "x:stallMs=0", "x:stallMs=600001", "x:garbage=2",
          "x:cutBody,dieAfterBytes=3", "x:dieAfterBytes=1,stallAfterBytes=1"}) {
        EXPECT_FALSE(parseFaultOption(bad, f, error)) << bad;
    }
}

TEST(SandboxFaultRate, OneTickCarriesATenthOfASecondsBytes) {
    EXPECT_EQ(pacedChunkBytes(10), 1024u);  // 10 KiB/s: 1 KiB every 100 ms
    EXPECT_EQ(pacedChunkBytes(512), 52428u);
    EXPECT_EQ(pacedChunkBytes(kMaxRateKiBps), std::size_t(kMaxRateKiBps) * 1024 / 10);
    EXPECT_EQ(pacedChunkBytes(1), 102u);
    EXPECT_GE(pacedChunkBytes(0), 1u);  // never a chunk of nothing
}

TEST(SandboxFaultGarbage, FixedBytesThatStartLikeNoFormat) {
    EXPECT_EQ(static_cast<unsigned char>(garbageByte(0)), 0xFF);  // neither '{' nor "PK"
    std::string a, b;
    for (std::uint64_t i = 0; i < 4096; ++i) {
        a += garbageByte(i);
        b += garbageByte(i);
    }
    EXPECT_EQ(a, b);  // the same at the same offset, however the body is read
    std::set<char> seen(a.begin(), a.end());
    EXPECT_GT(seen.size(), 200u);  // all sorts of bytes, not one repeated
}

TEST(SandboxFaultTable, ExactPathWinsOverPatternsAndCountsRunOut) {
    FaultTable table;
    table.set(FaultSwitch{"*", 0, 500, false, false, -1});
    table.set(FaultSwitch{"download/*", 0, 404, false, false, -1});
    table.set(FaultSwitch{"download/A.zip", 0, 503, false, false, 1});
    EXPECT_EQ(table.take("download/A.zip")->status, 503);
    EXPECT_EQ(table.take("download/A.zip")->status, 404);  // used up: the pattern applies now
    EXPECT_EQ(table.take("user/login")->status, 500);
    table.clear("*");
    EXPECT_FALSE(table.take("user/login").has_value());
    table.clear("");
    EXPECT_FALSE(table.take("download/B.zip").has_value());
}

TEST(SandboxUploadCheck, AcceptsOnlyTheSuitesTwoParts) {
    const UploadPart archive{"filename", "1001202412345678.zip", "application/octet-stream", 10, {}};
    const UploadPart submit{"filename", "", "", 12, "Submit Query"};
    std::string serial;
    EXPECT_EQ(checkUploadParts({archive, submit}, serial), "");
    EXPECT_EQ(serial, "1001202412345678");

    struct Case {
        const char* what;
        std::vector<UploadPart> parts;
    };
    auto renamed = archive;
    renamed.name = "file";
    auto textType = archive;
    textType.contentType = "text/plain";
    auto noZip = archive;
    noZip.filename = "1001202412345678.tar";
    auto climbing = archive;
    climbing.filename = "../../etc.zip";
    auto bareZip = archive;
    bareZip.filename = ".zip";
    auto otherText = submit;
    otherText.text = "Submit";
    auto submitWithFile = submit;
    submitWithFile.filename = "x";
    const Case cases[] = {
        {"archive only", {archive}},
        {"three parts", {archive, submit, submit}},
        {"wrong field name", {renamed, submit}},
        {"wrong content type", {textType, submit}},
        {"not .zip", {noZip, submit}},
        {"path in the name", {climbing, submit}},
        {"empty serial", {bareZip, submit}},
        {"wrong submit text", {archive, otherText}},
        {"submit part with a file", {archive, submitWithFile}},
        {"parts swapped", {submit, archive}},
    };
    for (const Case& c : cases) {
        EXPECT_NE(checkUploadParts(c.parts, serial), "") << c.what;
        EXPECT_EQ(serial, "") << c.what;
    }
}

TEST(SandboxZipWriter, PacksATreeThatUnpacksToTheSameFilesAndIsReproducible) {
    test::TempDir dir;
    const auto src = dir.path() / "src";
    std::filesystem::create_directories(src / "obdtool" / "vehicle" / "X");
    std::filesystem::create_directories(src / "obdtool" / "empty");
    std::ofstream(src / "obdtool" / "vehicle" / "X" / "a.ini") << "[a]\nv=1\n";
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i % 23);
    std::ofstream(src / "obdtool" / "b.bin", std::ios::binary) << big;
    std::string error;
    ASSERT_TRUE(zipFolder(src, dir.path() / "one.zip", error)) << error;
    ASSERT_TRUE(zipFolder(src, dir.path() / "two.zip", error)) << error;

    EXPECT_EQ(fileBytes(dir.path() / "one.zip"), fileBytes(dir.path() / "two.zip"));
    EXPECT_LT(fileBytes(dir.path() / "one.zip").size(), big.size() / 4);  // deflated

    std::map<std::string, std::string> entries;
    unzFile z = unzOpen64((dir.path() / "one.zip").string().c_str());
    ASSERT_NE(z, nullptr);
    for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
        char name[256];
        unz_file_info64 info{};
        ASSERT_EQ(unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        ASSERT_EQ(unzOpenCurrentFile(z), UNZ_OK);
        std::string content;
        char buf[8192];
        int n = 0;
        while ((n = unzReadCurrentFile(z, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<std::size_t>(n));
        EXPECT_EQ(n, 0) << name;
        EXPECT_EQ(unzCloseCurrentFile(z), UNZ_OK) << name;  // CRC checked here
        entries[name] = content;
    }
    unzClose(z);
    const std::map<std::string, std::string> expected = {
        {"obdtool/", ""},         {"obdtool/b.bin", big},     {"obdtool/empty/", ""},
        {"obdtool/vehicle/", ""}, {"obdtool/vehicle/X/", ""}, {"obdtool/vehicle/X/a.ini", "[a]\nv=1\n"},
    };
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(checkZipArchive(dir.path() / "one.zip"), "");
}

TEST(SandboxUploadCheck, TellsAZipFromOtherBytes) {
    test::TempDir dir;
    std::ofstream(dir.path() / "not.zip") << "PK but not really a zip archive";
    EXPECT_NE(checkZipArchive(dir.path() / "not.zip"), "");
    EXPECT_NE(checkZipArchive(dir.path() / "missing.zip"), "");
}

CatalogueRow row(std::int64_t id, const char* installed, const char* latest, int isrom) {
    CatalogueEntry e{id,
                     "1001202412345678",
                     1,
                     "Name " + std::to_string(id),
                     installed,
                     latest,
                     "P" + std::to_string(id) + ".zip",
                     isrom,
                     "",
                     "desc"};
    return CatalogueRow{e, "http://127.0.0.1:9/krevol-manager-api/download/P" + std::to_string(id) + ".zip",
                        2048};
}

TEST(SandboxAnswers, CatalogueReadsElementByElementAsTheSuiteReadsIt) {
    const std::string answer =
        envelope(200, "ok", catalogueData({row(7, "0.00", "2.10", 0), row(8, "1.00", "1.00", 1)}));
    EXPECT_EQ(test::statusOf(answer), 200);
    EXPECT_EQ(answer.find(": "), std::string::npos);  // compact
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(answer, elements));
    ASSERT_EQ(elements.size(), 2u);
    std::string id;
    ASSERT_TRUE(test::rawValue(elements[0], "id", id));
    EXPECT_EQ(id, "7");
    EXPECT_EQ(test::quoted(elements[0], "param1"), "Name 7");
    EXPECT_EQ(test::quoted(elements[0], "param2"), "2");
    EXPECT_EQ(test::quoted(elements[0], "param3"), "0.00");
    EXPECT_EQ(test::quoted(elements[0], "paramView3"), "");
    EXPECT_EQ(test::quoted(elements[0], "param4"), "2.10");
    EXPECT_EQ(test::quoted(elements[0], "paramView4"), "2.10");  // the suite adds the "V"
    EXPECT_EQ(test::quoted(elements[0], "param5"), "");
    EXPECT_EQ(test::quoted(elements[0], "softurl"), "http://127.0.0.1:9/krevol-manager-api/download/P7.zip");
    EXPECT_EQ(test::quoted(elements[0], "softpackageSize"), "2.0 KB");
    EXPECT_EQ(test::quoted(elements[0], "isrom"), "0");
    EXPECT_EQ(test::quoted(elements[0], "updatedesc"), "desc");
    ASSERT_TRUE(test::rawValue(elements[1], "id", id));
    EXPECT_EQ(id, "8");
    EXPECT_EQ(test::quoted(elements[1], "param2"), "1");
    EXPECT_EQ(test::quoted(elements[1], "isrom"), "1");
    EXPECT_EQ(test::quoted(elements[1], "paramView3"), "1.00");
    EXPECT_EQ(elements[1].back(), '}');  // the last element keeps its own closing brace
    EXPECT_EQ(envelope(200, "ok", catalogueData({})).find("\"data\":[]}"),
              std::string("{\"statuscode\":200,\"message\":\"ok\",").size());
}

TEST(SandboxAnswers, DeviceListKeepsACommaAfterCreateTime) {
    const std::string answer =
        envelope(200, "ok",
                 deviceListData({DeviceEntry{"S1", "N1", "K1 Pro", "", 1563926400000, ""},
                                 DeviceEntry{"S2", "N2", "K9", "", 5, ""}}));
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(answer, elements));
    ASSERT_EQ(elements.size(), 2u);
    std::string created;
    ASSERT_TRUE(test::rawValue(elements[0], "createTime", created));
    EXPECT_EQ(created, "1563926400000");
    ASSERT_TRUE(test::rawValue(elements[1], "createTime", created));
    EXPECT_EQ(created, "5");
    EXPECT_EQ(test::quoted(elements[1], "name"), "N2");
    EXPECT_EQ(test::quoted(elements[1], "sn"), "S2");
    EXPECT_EQ(test::quoted(elements[1], "type"), "K9");
}

TEST(SandboxAnswers, SignInOwnerContentAndSuiteReadByKey) {
    const std::string signIn = envelope(200, "ok", signInData(SignIn{42, "a@b.c", "abc123"}));
    std::string v;
    ASSERT_TRUE(test::rawValue(signIn, "id", v));
    EXPECT_EQ(v, "42");
    ASSERT_TRUE(test::rawValue(signIn, "token", v));
    EXPECT_EQ(v, "\"abc123\"");

    const std::string owner = envelope(200, "ok", ownerData("S", OwnerInfo{"K1 Pro", "a@b.c"}));
    EXPECT_EQ(test::quoted(owner, "deviceType"), "K1 Pro");
    EXPECT_EQ(test::quoted(owner, "username"), "a@b.c");

    EXPECT_EQ(
        test::quoted(envelope(200, "ok", contentData("S", std::string("\x0a\x1b\xff\x00", 4))), "param"),
        "0A1BFF00");

    const std::string suite = envelope(
        200, "ok",
        suiteData(SuitePackage{"0", "4.3.1", "K.zip"}, "http://h:1/krevol-manager-api/download/K.zip"));
    const auto path = suite.find("\"packagePath\":\"");
    ASSERT_NE(path, std::string::npos);
    EXPECT_EQ(test::quoted(suite, "packagePath"), "http://h:1/krevol-manager-api/download/K.zip");
    EXPECT_GT(suite.find("\"versionId\":\""), path);  // read after packagePath
    EXPECT_EQ(test::quoted(suite, "versionId"), "4.3.1");
}

TEST(SandboxAnswers, StatusIsFollowedByACommaEvenWithoutData) {
    for (const int code : {200, -6, 3, 11, 400}) {
        const std::string e = envelope(code, "m");
        EXPECT_EQ(e.rfind("{\"statuscode\":" + std::to_string(code) + ",", 0), 0u) << e;
        EXPECT_EQ(test::statusOf(e), code);
    }
}

TEST(SandboxAnswers, SizeTexts) {
    EXPECT_EQ(sizeText(980), "980 B");
    EXPECT_EQ(sizeText(1536), "1.5 KB");
    EXPECT_EQ(sizeText(3145728), "3.0 MB");
    EXPECT_TRUE(isNoVersion("0.00"));
    EXPECT_TRUE(isNoVersion("0.0.0"));
    EXPECT_FALSE(isNoVersion("0.01"));
}

}  // namespace
}  // namespace krevol::sandbox
