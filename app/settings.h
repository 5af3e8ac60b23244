// The per-user settings store: organisation "Krevol", application = the executable's base name,
// group "Krevol PC Suite"; values `Lang` (integer), `User` and `Password` (texts).
// A missing or unreadable store gives the defaults; failed writes are not reported.
#pragma once

#include <QString>

namespace krevol {

int readLang();                 // `Lang`, 1 when absent
void writeLang(int index);
QString readUser();             // `User`, empty when absent
// After a successful sign-in: `User` = the e-mail; `Password` is written empty, so no secret is kept.
void storeSignIn(const QString& email);

}  // namespace krevol
