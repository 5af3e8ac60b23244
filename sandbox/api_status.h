// The status codes the sandbox writes into "statuscode".
// The suite knows -6, -5, 1, 3, 11 and 200 by meaning; the others are this server's own.
#pragma once

namespace krevol::sandbox::status {

constexpr int kOk = 200;
constexpr int kUnregistered = -6;      // the e-mail address has no account
constexpr int kBadAddress = -5;        // the text is not an e-mail address
constexpr int kAlreadyRegistered = 1;  // sign-up code or binding for an address that has an account
constexpr int kWrongPassword = 3;      // sign-in, or the old password of a user update
constexpr int kBadCode = 4;            // no such verification code for the address
constexpr int kCodeExpired = 5;        // the code was right but its time is over
constexpr int kNotVerified = 6;        // setting a password or binding without a checked code
constexpr int kBadPassword = 7;        // empty or over-long password
constexpr int kUnknownSerial = 11;     // no tool with this serial
constexpr int kNotYourDevice = 12;     // the tool belongs to another account
constexpr int kUnknownEntry = 13;      // the catalogue of this tool has no such entry
constexpr int kNoSuitePackage = 15;    // no suite package for this phone type
constexpr int kMalformed = 400;        // broken JSON, missing member, wrong type (HTTP 400 too)
constexpr int kBadToken = 401;         // user id and token do not belong together
constexpr int kUnknownPath = 404;      // no such call (HTTP 404 too)
constexpr int kTooLarge = 413;         // the body is larger than the call accepts (HTTP 413 too)
constexpr int kServerError = 500;      // the database failed (HTTP 500 too)

}  // namespace krevol::sandbox::status
