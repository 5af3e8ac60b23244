// The placeholder rules of the sign-in dialog's two input fields.
//
// A placeholder is shown as the field's own text (in the field's grey) while the field is empty
// and has no focus; masking applies only to typed text, a field showing its placeholder is
// plain. A field that shows its placeholder counts as empty for every check.
//
// updatePlaceholders runs after the dialog's initialisation, after the Tab and Enter moves
// between the fields, after every release of the left mouse button inside the window, and
// after the mode changes of the flows and the maintenance entries.
#pragma once

#include <functional>
#include <string>

#include "account/sign_in_mode.h"
#include "app/messages.h"

namespace krevol {

// One input field as the rules see it.
struct PlaceholderField {
    std::string text;               // typed text, or the placeholder's text while it shows it
    bool showsPlaceholder = false;  // the text is the placeholder
    bool masked = false;            // typed characters are shown as "*"
    bool focused = false;           // the field has the keyboard focus

    // The text the checks see: empty while the placeholder shows.
    std::string value() const { return showsPlaceholder ? std::string() : text; }
};

// The set-up remembered between two runs: the mode for which the placeholders were last set
// up, their texts (catalogue ids) and maskings.
struct PlaceholderSetup {
    SignInMode mode = SignInMode::SignIn;
    int placeholder1 = msgId(117);
    int placeholder2 = msgId(118);
    bool masked1 = false;
    bool masked2 = true;
};

using TextLookup = std::function<std::string(int id)>;

// Applies the rules to the two fields.
//
// When `mode` differs from the remembered one, the new mode's placeholders and maskings are
// taken; then a focused field 1 is emptied (unless the previous mode was BindNewMailbox),
// otherwise a focused field 2 is emptied, otherwise both fields lose their masking, field 2
// shows its placeholder and field 1 shows its placeholder too, except after SignIn ->
// ForgotPassword and back (the typed address stays) and after leaving BindNewMailbox (the new
// address stays). Finally field 1 receives `sessionEmail` when the new mode is ModifyMailbox or the
// previous one was PasswordSetting, NewPasswordSetting or ChangePassword.
//
// In the same mode: a focused field that shows its placeholder is emptied and takes the mode's
// masking; a field without focus that is empty loses its masking and shows its placeholder.
void updatePlaceholders(PlaceholderSetup& setup, SignInMode mode, PlaceholderField& field1,
                        PlaceholderField& field2, const std::string& sessionEmail, const TextLookup& text);

}  // namespace krevol
