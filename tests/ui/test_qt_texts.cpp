// Qt's own texts (the edit menu of a text field) come from the catalogue in the run's language.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTextEdit>

#include <memory>

#include "app/messages.h"
#include "ui/qt_texts.h"

using namespace krevol;

namespace {

bool hasChinese(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}

// The captions of a menu's entries (separators left out).
QStringList captions(QMenu* menu) {
    QStringList out;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) out << action->text();
    return out;
}

}  // namespace

class TestQtTexts : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        installCatalogueTranslator();
        installCatalogueTranslator();  // once is enough; a second call adds nothing
    }
    void cleanup() { setUiLanguage(kLanguageEnglish); }

    void fieldMenuReadsInChineseInAChineseRun() {
        setUiLanguage(kLanguageChinese);
        QLineEdit field;
        field.setText(QStringLiteral("me@mail.com"));
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        const QStringList texts = captions(menu.get());
        QVERIFY(texts.size() >= 7);  // undo, redo, cut, copy, paste, delete, select all
        for (const QString& text : texts) QVERIFY2(hasChinese(text), qPrintable(text));
        // The shortcuts stay Qt's.
        QVERIFY(texts.contains(QString::fromStdString(loadText(328)) + QStringLiteral("\tCtrl+C")));
    }

    void agreementTextMenuReadsInChinese() {
        setUiLanguage(kLanguageChinese);
        QTextEdit text;
        text.setReadOnly(true);
        text.setPlainText(QStringLiteral("agreement"));
        text.selectAll();
        std::unique_ptr<QMenu> menu(text.createStandardContextMenu());
        const QStringList texts = captions(menu.get());
        QVERIFY(!texts.isEmpty());
        for (const QString& t : texts) QVERIFY2(hasChinese(t), qPrintable(t));
    }

    void englishRunShowsTheCatalogueEnglish() {
        QLineEdit field;
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QVERIFY(captions(menu.get()).contains(QStringLiteral("Select All\tCtrl+A")));
    }

    void onlyTheEditMenuIsAnswered_data() {
        QTest::addColumn<QByteArray>("context");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<int>("id");
        QTest::newRow("field copy") << QByteArray("QLineEdit") << QByteArray("&Copy") << 328;
        QTest::newRow("text control select all")
            << QByteArray("QWidgetTextControl") << QByteArray("Select All") << 331;
        QTest::newRow("other class") << QByteArray("QDialogButtonBox") << QByteArray("&Copy") << 0;
        QTest::newRow("other text") << QByteArray("QLineEdit") << QByteArray("Copy") << 0;
    }

    void onlyTheEditMenuIsAnswered() {
        QFETCH(QByteArray, context);
        QFETCH(QByteArray, source);
        QFETCH(int, id);
        QCOMPARE(catalogueIdForQtText(context.constData(), source.constData()), id);
        const QString translated = QCoreApplication::translate(context.constData(), source.constData());
        if (id == 0) {
            QCOMPARE(translated, QString::fromLatin1(source));  // Qt's own text, unchanged
        } else {
            QCOMPARE(translated, QString::fromStdString(loadText(id)));
        }
    }
};

QTEST_MAIN(TestQtTexts)
#include "test_qt_texts.moc"
