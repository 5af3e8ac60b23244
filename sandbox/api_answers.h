// The answer texts of the API calls. The suite reads them by plain text search, so they are compact
// (no blanks), "statuscode" comes first and is followed by a comma, and every member that the suite
// reads up to a comma ("id", "token", "createTime") is followed by another member.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/sandbox_store.h"

namespace krevol::sandbox {

// {"statuscode":S,"message":"M","data":D}; `data` is JSON text ("null" when empty).
std::string envelope(int statusCode, std::string_view message, std::string_view data = {});

std::string signInData(const SignIn& signIn);

struct CatalogueRow {
    CatalogueEntry entry;
    std::string packageUrl;  // absolute http address of the package
    std::uint64_t packageSize = 0;
};
// [{"id":N,...},...]: param2 is "2" while the installed version differs from the latest, else "1".
// paramView3/paramView4 are the bare versions ("" when nothing is installed): the suite shows
// them after a "V" of its own.
std::string catalogueData(const std::vector<CatalogueRow>& rows);
std::string deviceListData(const std::vector<DeviceEntry>& devices);
std::string ownerData(const std::string& serial, const OwnerInfo& owner);
std::string contentData(const std::string& serial, std::string_view bytes);  // "param": upper-case hex
std::string suiteData(const SuitePackage& suite, const std::string& packageUrl);

// "0.00", "0.0.0": nothing installed.
bool isNoVersion(std::string_view version);
// 980 -> "980 B", 1536 -> "1.5 KB", 3145728 -> "3.0 MB".
std::string sizeText(std::uint64_t bytes);

}  // namespace krevol::sandbox
