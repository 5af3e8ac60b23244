#include "account/placeholder_rules.h"

namespace krevol {

namespace {

void showPlaceholder(PlaceholderField& field, int id, const TextLookup& text) {
    field.text = text(id);
    field.showsPlaceholder = true;
    field.masked = false;
}

void empty(PlaceholderField& field, bool masked) {
    field.text.clear();
    field.showsPlaceholder = false;
    field.masked = masked;
}

}  // namespace

void updatePlaceholders(PlaceholderSetup& setup, SignInMode mode, PlaceholderField& field1,
                        PlaceholderField& field2, const std::string& sessionEmail, const TextLookup& text) {
    if (mode != setup.mode) {
        const SignInMode previous = setup.mode;
        const SignInModeInfo& info = signInModeInfo(mode);
        setup.placeholder1 = info.placeholder1;
        setup.placeholder2 = info.placeholder2;
        setup.masked1 = info.masked1;
        setup.masked2 = info.masked2;

        if (field1.focused && previous != SignInMode::BindNewMailbox) {
            empty(field1, setup.masked1);
        } else if (field2.focused) {
            empty(field2, setup.masked2);
        } else {
            field1.masked = false;
            field2.masked = false;
            showPlaceholder(field2, setup.placeholder2, text);
            // Field 1 holds an address on both sides of the recovery's way in and way back.
            const bool keepsAddress =
                (previous == SignInMode::SignIn && mode == SignInMode::ForgotPassword) ||
                (previous == SignInMode::ForgotPassword && mode == SignInMode::SignIn) ||
                previous == SignInMode::BindNewMailbox;
            if (!keepsAddress) showPlaceholder(field1, setup.placeholder1, text);
        }

        const bool takesAccountAddress =
            mode == SignInMode::ModifyMailbox || previous == SignInMode::PasswordSetting ||
            previous == SignInMode::NewPasswordSetting || previous == SignInMode::ChangePassword;
        if (takesAccountAddress) {
            if (!sessionEmail.empty()) {
                field1.text = sessionEmail;
                field1.showsPlaceholder = false;
                field1.masked = false;
            } else if (field1.focused) {
                empty(field1, setup.masked1);
            } else {
                // Nothing to put there: an empty field shows its placeholder instead.
                showPlaceholder(field1, setup.placeholder1, text);
            }
        }
        setup.mode = mode;
        return;
    }

    const auto refresh = [&text](PlaceholderField& field, int placeholder, bool masked) {
        if (field.focused) {
            if (field.showsPlaceholder || field.text.empty()) empty(field, masked);
        } else if (!field.showsPlaceholder && field.text.empty()) {
            showPlaceholder(field, placeholder, text);
        }
    };
    refresh(field1, setup.placeholder1, setup.masked1);
    refresh(field2, setup.placeholder2, setup.masked2);
}

}  // namespace krevol
