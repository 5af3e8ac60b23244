// The catalogue of a tool's vehicle software on the API server: reading the list
// ("cartypesoft/synchCarSoft") and reporting the version now on the tool
// ("cartypesoft/synchCarSoftVersion").
//
// Plain C++ without windows: the calls block, may run on any thread (each call is self-contained)
// and show their at most one message through the installed message presenter.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "upgrade/software_item.h"

namespace krevol {

// What a call got from the server, for callers that print or log it (krevolctl).
struct CallTrace {
    int result = 0;     // transport result: 200, a transport code, or 888 (nothing sent)
    int status = 0;     // the answer's statuscode; 0 when the result was not 200
    int messageId = 0;  // the message shown, 0 for none
    int code = 0;       // the number shown with it, 0 for none
};

// Codes of parseSoftwareItem. 0 and 20 are successes; every other value names the key that was
// missing or unterminated (1-18, 30-35) or a missing closing brace (21).
using ItemParseCode = int;
constexpr ItemParseCode kParseLastItem = 0;    // the element was read and no other element follows
constexpr ItemParseCode kParseMoreItems = 20;  // the element was read and the text now starts after its "},"
constexpr ItemParseCode kParseNoClosingBrace = 21;

// Reads one array element from the front of `remaining`. Each key is searched from the start of
// `remaining` as it was on entry (not after the previous key); its value runs to the key's
// terminator, without escape processing, and may be empty:
//
//   "id":  ,  -> id (1, 2)              "param1":"  "  -> param1 (3, 4)
//   "param2":"  "  -> param2 (5, 6)     "param3":"  "  -> param3 (7, 8)
//   "paramView3":"  -> (32, 33)         "param4":"  -> (9, 10)
//   "paramView4":"  -> (34, 35)         "param5":"  -> (11, 12)
//   "softurl":"  -> (13, 14)            "softpackageSize":"  -> (15, 16)
//   "isrom":"  -> (17, 18)              "updatedesc":"  -> (30, 31)
//
// A missing key gives the first code, a key with nothing or no terminator after it the second.
// Then: when `remaining` holds "},", the result is 20 and `remaining` becomes the text after the
// first "},"; otherwise 0 when it holds a "}", 21 when it has none (or is empty). `item`'s fields
// read before a failing key keep their values; `state` is never touched.
ItemParseCode parseSoftwareItem(std::string_view& remaining, SoftwareItem& item);

// The request bodies, byte for byte as sent. `userId`, `token` and the item's `id` go in bare;
// the serial goes between quotes, escaped as JSON text; `param4` goes between quotes as it was
// read from the catalogue answer (the raw text of a JSON string, so the server gets back the very
// version it sent, escapes included).
std::string catalogueRequestBody(const std::string& userId, const std::string& token,
                                 const std::string& serial);
std::string versionReportBody(const std::string& userId, const std::string& token, const std::string& serial,
                              const SoftwareItem& item);

// Called with every item as it is appended to the catalogue (e.g. to fill a list view).
using CatalogueItemSink = std::function<void(const SoftwareItem&)>;

// What readCatalogueItems found besides the parse code of a faulty element.
constexpr int kCatalogueComplete = 0;  // every element of the array was read
constexpr int kCatalogueNoArray = -1;  // no "data":[ with a "]}" after it
constexpr int kCatalogueEmpty = -2;    // the array holds nothing

// Reads the items of a catalogue answer: the array after the first "data":[ up to the first "]}"
// after it, element after element with parseSoftwareItem. Each item read is appended to
// `catalogue` and handed to `onItem`. Returns kCatalogueComplete, kCatalogueNoArray,
// kCatalogueEmpty or the parse code of the first faulty element (the items before it stay).
int readCatalogueItems(std::string_view answer, std::vector<SoftwareItem>& catalogue,
                       const CatalogueItemSink& onItem = {});

// Reads the catalogue of the tool `serial`. `catalogue` is emptied once the request is answered
// (or refused with 888) and then receives the items in the server's order. True when the whole
// array was read; false with no message when the server listed nothing; otherwise false with one
// message: 127 + result, 224, 167 + status, 224 + -1 (no "data":[ ... ]}), 224 + the parse code
// (the items read before the faulty one stay). Empty user id, token or serial: 888, nothing sent.
bool fetchCatalogue(const std::string& userId, const std::string& token, const std::string& serial,
                    std::vector<SoftwareItem>& catalogue, const CatalogueItemSink& onItem = {},
                    CallTrace* trace = nullptr);

// Tells the server that the item's latest version (`param4`) is now on the tool. False with one
// message: 127 + result, 224 (status 165), 183 + status. Empty user id, token, serial or param4:
// 888 (message 127 with 888), nothing sent; an empty item id is sent as it is.
bool reportSoftwareVersion(const std::string& userId, const std::string& token, const std::string& serial,
                           const SoftwareItem& item, CallTrace* trace = nullptr);

}  // namespace krevol
