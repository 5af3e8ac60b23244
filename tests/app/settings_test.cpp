// The per-user settings store, kept in a temporary folder for each test.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

#include "app/language.h"
#include "app/messages.h"
#include "app/settings.h"

namespace krevol {
namespace {

class SettingsStore : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "settings_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
    }

    // Where the store of this executable lives: organisation folder "Krevol", file named after the
    // executable ("settings_test").
    QString storePath() const { return dir_.path() + "/Krevol/settings_test.conf"; }

    // Writes values straight into the store's file, in its section.
    void seed(const QString& key, const QVariant& value) {
        QSettings raw(storePath(), QSettings::IniFormat);
        raw.beginGroup("Krevol PC Suite");
        raw.setValue(key, value);
    }
    QVariant stored(const QString& key) const {
        QSettings raw(storePath(), QSettings::IniFormat);
        raw.beginGroup("Krevol PC Suite");
        return raw.value(key);
    }
    QByteArray fileBytes() const {
        QFile f(storePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    static std::unique_ptr<QCoreApplication> app_;
};

std::unique_ptr<QCoreApplication> SettingsStore::app_;

TEST_F(SettingsStore, MissingStoreGivesDefaults) {
    EXPECT_EQ(readLang(), 1);
    EXPECT_EQ(readUser(), QString());
    // No stored Lang: the run is English and the language list's current index is 1.
    EXPECT_EQ(languageIdForLang(readLang()), kLanguageEnglish);
    EXPECT_FALSE(languageSwitchNeeded(1, readLang()));
    EXPECT_TRUE(languageSwitchNeeded(0, readLang()));
    EXPECT_FALSE(QFile::exists(storePath())) << "reading must not create the store";
}

TEST_F(SettingsStore, LangIsKeptUnderTheFixedNames) {
    writeLang(7);
    EXPECT_TRUE(QFile::exists(storePath()));
    EXPECT_EQ(stored("Lang").toInt(), 7);
    EXPECT_EQ(readLang(), 7);
    EXPECT_EQ(languageIdForLang(readLang()), kLanguageChinese);
    EXPECT_TRUE(languageSwitchNeeded(1, readLang()));
    EXPECT_TRUE(languageSwitchNeeded(0, readLang()));

    writeLang(0);
    EXPECT_EQ(readLang(), 0);
    writeLang(1);
    EXPECT_EQ(readLang(), 1);
    EXPECT_EQ(languageIdForLang(readLang()), kLanguageEnglish);
}

TEST_F(SettingsStore, LangThatIsNoNumberGivesTheDefault) {
    seed("Lang", "chinese");
    EXPECT_EQ(readLang(), 1);
}

TEST_F(SettingsStore, SignInKeepsTheUserButNeverThePassword) {
    seed("Password", "secret-from-an-old-version");
    storeSignIn("driver@example.com");

    EXPECT_EQ(readUser(), "driver@example.com");
    EXPECT_EQ(stored("User").toString(), "driver@example.com");
    EXPECT_TRUE(stored("Password").isValid()) << "the Password value is written";
    EXPECT_EQ(stored("Password").toString(), QString());
    EXPECT_FALSE(fileBytes().contains("secret")) << fileBytes().constData();

    storeSignIn("other@example.com");
    EXPECT_EQ(readUser(), "other@example.com");
    EXPECT_EQ(readLang(), 1) << "a sign-in writes no Lang";
}

TEST_F(SettingsStore, UnreadableStoreGivesDefaultsAndWritesFailQuietly) {
    seed("Lang", 0);
    seed("User", "driver@example.com");
    ASSERT_TRUE(QFile::remove(storePath()));
    // A folder where the store's file belongs: it can be neither read nor written.
    ASSERT_TRUE(QDir().mkpath(storePath()));

    EXPECT_EQ(readLang(), 1);
    EXPECT_EQ(readUser(), QString());
    writeLang(0);
    storeSignIn("driver@example.com");
    EXPECT_EQ(readLang(), 1);
    EXPECT_EQ(readUser(), QString());
}

TEST_F(SettingsStore, DamagedStoreGivesDefaults) {
    QDir().mkpath(dir_.path() + "/Krevol");
    QFile f(storePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x01\x02 not [a settings file\n=\n[Krevol%20PC%20Suite\nLang\n");
    f.close();
    EXPECT_EQ(readLang(), 1);
    EXPECT_EQ(readUser(), QString());
}

}  // namespace
}  // namespace krevol
