#include "ui/qt_texts.h"

#include <QCoreApplication>

#include <cstring>

#include "app/messages.h"

namespace krevol {

namespace {

// The edit menus of QLineEdit and of the text controls (QTextEdit, QLabel with selectable text).
struct QtText {
    const char* sourceText;
    int id;
};
constexpr QtText kEditMenu[] = {
    {"&Undo", msgId(325)},  {"&Redo", msgId(326)},  {"Cu&t", msgId(327)},       {"&Copy", msgId(328)},
    {"&Paste", msgId(329)}, {"Delete", msgId(330)}, {"Select All", msgId(331)},
};
constexpr const char* kEditMenuContexts[] = {"QLineEdit", "QWidgetTextControl"};

}  // namespace

int catalogueIdForQtText(const char* context, const char* sourceText) {
    if (!context || !sourceText) return 0;
    bool known = false;
    for (const char* c : kEditMenuContexts) known = known || std::strcmp(c, context) == 0;
    if (!known) return 0;
    for (const QtText& t : kEditMenu) {
        if (std::strcmp(t.sourceText, sourceText) == 0) return t.id;
    }
    return 0;
}

QString CatalogueTranslator::translate(const char* context, const char* sourceText, const char*, int) const {
    const int id = catalogueIdForQtText(context, sourceText);
    // An empty answer lets Qt go on to the next translator or its own text.
    return id == 0 ? QString() : QString::fromStdString(loadText(id));
}

void installCatalogueTranslator() {
    static CatalogueTranslator* installed = nullptr;
    if (installed || !QCoreApplication::instance()) return;
    installed = new CatalogueTranslator(QCoreApplication::instance());
    QCoreApplication::installTranslator(installed);
}

}  // namespace krevol
