// Qt's own texts in the program's windows, taken from the message catalogue.
//
// A few texts that users see come from Qt itself: the edit menu of a text field (right button
// on the sign-in fields: Undo, Redo, Cut, Copy, Paste, Delete, Select All) and of the about box's
// agreement text. Qt shows them in English unless its own translations are installed; this
// translator answers them from the catalogue (325-331), in the language of the run. Every other
// text goes on to Qt unchanged.
#pragma once

#include <QTranslator>

namespace krevol {

class CatalogueTranslator : public QTranslator {
  public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// The catalogue id of one of Qt's texts in one of Qt's classes, 0 for any other text.
int catalogueIdForQtText(const char* context, const char* sourceText);

// Installs the translator on the application once (user-interface thread; a QCoreApplication
// must exist).
void installCatalogueTranslator();

}  // namespace krevol
