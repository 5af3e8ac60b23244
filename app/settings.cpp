#include "app/settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <memory>

namespace krevol {

namespace {

const char kOrganisation[] = "Krevol";
const char kSection[] = "Krevol PC Suite";
const char kLang[] = "Lang";
const char kUser[] = "User";
const char kPassword[] = "Password";
constexpr int kDefaultLang = 1;

// The executable's file name without its extension ("KrevolRegist").
QString executableBaseName() {
    QString path;
    if (QCoreApplication::instance() != nullptr) {
        path = QCoreApplication::applicationFilePath();
    } else {
        // krevolctl and other tools may run without an application object.
        path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    }
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("KrevolRegist") : name;
}

// The store, opened on the program's section.
std::unique_ptr<QSettings> openStore() {
    auto store = std::make_unique<QSettings>(QString::fromLatin1(kOrganisation), executableBaseName());
    store->beginGroup(QString::fromLatin1(kSection));
    return store;
}

// A value of the section, or nothing when the store cannot be read or lacks the value.
QVariant readValue(const char* name) {
    auto store = openStore();
    if (store->status() != QSettings::NoError) return {};
    return store->value(QString::fromLatin1(name));
}

}  // namespace

int readLang() {
    const QVariant value = readValue(kLang);
    if (!value.isValid()) return kDefaultLang;
    bool ok = false;
    const int lang = value.toInt(&ok);
    return ok ? lang : kDefaultLang;
}

void writeLang(int index) {
    auto store = openStore();
    store->setValue(QString::fromLatin1(kLang), index);
}

QString readUser() {
    const QVariant value = readValue(kUser);
    return value.isValid() ? value.toString() : QString();
}

void storeSignIn(const QString& email) {
    auto store = openStore();
    store->setValue(QString::fromLatin1(kUser), email);
    // The password is never kept on disk; an earlier one left here is overwritten.
    store->setValue(QString::fromLatin1(kPassword), QString());
}

}  // namespace krevol
