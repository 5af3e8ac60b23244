// The sign-in window's rules that need no window: the mode table, the action of each mode and
// stage, the e-mail and password tests, the local checks and the placeholder rules.
#include <gtest/gtest.h>

#include <string>

#include "account/placeholder_rules.h"
#include "account/sign_in_checks.h"
#include "account/sign_in_mode.h"

namespace krevol {
namespace {

TEST(SignInModeTest, TableHoldsTheTitlesPlaceholdersAndCaptionsOfEveryMode) {
    struct Row {
        SignInMode mode;
        int title, placeholder1, placeholder2, first, second;
        bool masked1, masked2;
    };
    const Row rows[] = {
        {SignInMode::SignIn, 108, 117, 118, 108, 0, false, true},
        {SignInMode::SignUp, 109, 117, 119, 107, 109, false, false},
        {SignInMode::PasswordSetting, 109, 118, 121, 120, 0, true, true},
        {SignInMode::ForgotPassword, 115, 117, 119, 107, 120, false, false},
        {SignInMode::NewPasswordSetting, 115, 118, 121, 120, 0, true, true},
        {SignInMode::ChangePassword, 151, 152, 153, 120, 0, true, true},
        {SignInMode::ModifyMailbox, 195, 117, 119, 107, 120, false, false},
        {SignInMode::BindNewMailbox, 201, 256, 119, 107, 120, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(signInModeName(row.mode));
        const SignInModeInfo& info = signInModeInfo(row.mode);
        EXPECT_EQ(info.mode, row.mode);
        EXPECT_EQ(info.titleId, row.title);
        EXPECT_EQ(info.placeholder1, row.placeholder1);
        EXPECT_EQ(info.placeholder2, row.placeholder2);
        EXPECT_EQ(info.masked1, row.masked1);
        EXPECT_EQ(info.masked2, row.masked2);
        EXPECT_EQ(info.firstCaption, row.first);
        EXPECT_EQ(info.secondCaption, row.second);
    }
    EXPECT_EQ(static_cast<int>(SignInMode::PasswordSetting), 4);
    EXPECT_EQ(static_cast<int>(SignInMode::BindNewMailbox), 9);
    EXPECT_TRUE(signInModeInfo(SignInMode::ForgotPassword).titleAsQuestion);
    EXPECT_FALSE(signInModeInfo(SignInMode::ChangePassword).languageControls);
    // The recovery views lead back to sign-in with the sign-up view's link text.
    EXPECT_EQ(signInModeInfo(SignInMode::ForgotPassword).switchLinkText, 248);
    EXPECT_EQ(signInModeInfo(SignInMode::NewPasswordSetting).switchLinkText, 248);
}

TEST(SignInModeTest, TheCaptionSelectsTheStage) {
    struct Row {
        SignInMode mode;
        int caption;
        SignInAction action;
    };
    const Row rows[] = {
        {SignInMode::SignIn, 108, SignInAction::SignIn},
        {SignInMode::SignUp, 107, SignInAction::SendSignUpCode},
        {SignInMode::SignUp, 109, SignInAction::CheckSignUpCode},
        {SignInMode::PasswordSetting, 120, SignInAction::SetPassword},
        {SignInMode::ForgotPassword, 107, SignInAction::SendResetCode},
        {SignInMode::ForgotPassword, 120, SignInAction::CheckResetCode},
        {SignInMode::NewPasswordSetting, 120, SignInAction::ResetPassword},
        {SignInMode::ChangePassword, 120, SignInAction::ChangePassword},
        {SignInMode::ModifyMailbox, 107, SignInAction::SendModifyCode},
        {SignInMode::ModifyMailbox, 120, SignInAction::CheckModifyCode},
        {SignInMode::BindNewMailbox, 107, SignInAction::SendBindCode},
        {SignInMode::BindNewMailbox, 120, SignInAction::CheckCodeAndBind},
        // Sign-up verifies with "Sign up" only; "Submit" there is still the first stage.
        {SignInMode::SignUp, 120, SignInAction::SendSignUpCode},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(signInModeName(row.mode)) + " caption " + std::to_string(row.caption));
        EXPECT_EQ(actionFor(row.mode, row.caption), row.action);
    }
}

TEST(SignInModeTest, EmailAddressRules) {
    const char* valid[] = {"a@b.c", "user.name@mail.example.com", "A1@x.Y2", "a@bb.c.d", "a+b@c.d", "1@2.3"};
    const char* invalid[] = {
        "",       "a",      "@b.c",  "a@.c", "a@@b.c", "a@b@c.d", "a@bc",   "a@b.c.",       ".a@b.c",
        "a@b.c-", "-a@b.c", "a.b@c", "ab",   "a@b",    " a@b.c",  "a@b.c ", "\xC3\xA4@b.c",
    };
    for (const char* text : valid) EXPECT_TRUE(isValidEmail(text)) << text;
    for (const char* text : invalid) EXPECT_FALSE(isValidEmail(text)) << text;
}

TEST(SignInModeTest, PasswordsOfSixToTwentyCharacters) {
    EXPECT_FALSE(isValidPassword(""));
    EXPECT_FALSE(isValidPassword("12345"));
    EXPECT_TRUE(isValidPassword("123456"));
    EXPECT_TRUE(isValidPassword(std::string(20, 'x')));
    EXPECT_FALSE(isValidPassword(std::string(21, 'x')));
    EXPECT_TRUE(isValidPassword("  \"\\ !"));
    // Six Chinese characters are six characters, not eighteen bytes.
    EXPECT_TRUE(isValidPassword("\xE5\xAF\x86\xE7\xA0\x81\xE5\xAF\x86\xE7\xA0\x81\xE5\xAF\x86\xE7\xA0\x81"));
    EXPECT_FALSE(isValidPassword("\xE5\xAF\x86\xE7\xA0\x81\xE5\xAF\x86\xE7\xA0\x81\xE5\xAF\x86"));
}

TEST(SignInChecksTest, SignInChecksComeInTheirOrder) {
    struct Row {
        const char* email;
        const char* password;
        int message;
    };
    const Row rows[] = {
        {"", "", 124},
        {"", "secret1", 124},
        {"user@mail.com", "", 125},
        {"not-an-address", "", 125},  // the empty password is reported before the address format
        {"not-an-address", "12", 126},
        {"user@mail.com", "12345", 135},
        {"user@mail.com", "123456", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(checkSignIn(row.email, row.password), row.message) << row.email << " / " << row.password;
    }
}

TEST(SignInChecksTest, CodeAndPasswordChecks) {
    EXPECT_EQ(checkSendCode(""), 124);
    EXPECT_EQ(checkSendCode("a@b"), 126);
    EXPECT_EQ(checkSendCode("a@b.c"), 0);

    EXPECT_EQ(checkSendCodeToSignedInAddress("", "user@mail.com"), 124);
    EXPECT_EQ(checkSendCodeToSignedInAddress("user@mail", "user@mail.com"), 126);
    EXPECT_EQ(checkSendCodeToSignedInAddress("User@mail.com", "user@mail.com"), 255);
    EXPECT_EQ(checkSendCodeToSignedInAddress("other@mail.com", "user@mail.com"), 255);
    EXPECT_EQ(checkSendCodeToSignedInAddress("user@mail.com", "user@mail.com"), 0);

    EXPECT_EQ(checkCodeInputs("", "1234"), 124);
    EXPECT_EQ(checkCodeInputs("not an address", ""), 132);
    EXPECT_EQ(checkCodeInputs("not an address", "1234"), 0);  // the format is not tested here

    EXPECT_EQ(checkNewPassword("", "secret1", "secret1"), 124);
    EXPECT_EQ(checkNewPassword("a@b.c", "", "secret1"), 125);
    EXPECT_EQ(checkNewPassword("a@b.c", "secret1", ""), 125);
    EXPECT_EQ(checkNewPassword("a@b.c", "short", "secret1"), 135);
    EXPECT_EQ(checkNewPassword("a@b.c", "secret1", "short"), 135);
    EXPECT_EQ(checkNewPassword("a@b.c", "secret1", "secret2"), 136);
    EXPECT_EQ(checkNewPassword("a@b.c", "secret1", "secret1"), 0);

    EXPECT_EQ(checkPasswordChange("", "newsecret"), 125);
    EXPECT_EQ(checkPasswordChange("oldsecret", ""), 125);
    EXPECT_EQ(checkPasswordChange("old", "newsecret"), 135);
    EXPECT_EQ(checkPasswordChange("oldsecret", std::string(21, 'n')), 135);
    EXPECT_EQ(checkPasswordChange("samesecret", "samesecret"), 156);
    EXPECT_EQ(checkPasswordChange("oldsecret", "newsecret"), 0);
}

// The placeholder rules with texts "<id>" so that every placeholder is recognisable.
class PlaceholderRulesTest : public ::testing::Test {
  protected:
    static std::string text(int id) { return "<" + std::to_string(id) + ">"; }

    void run(SignInMode mode, const std::string& sessionEmail = "me@mail.com") {
        updatePlaceholders(setup, mode, field1, field2, sessionEmail, &PlaceholderRulesTest::text);
    }
    static PlaceholderField typed(const std::string& value, bool masked = false) {
        PlaceholderField field;
        field.text = value;
        field.masked = masked;
        return field;
    }

    PlaceholderSetup setup;
    PlaceholderField field1;
    PlaceholderField field2;
};

TEST_F(PlaceholderRulesTest, EmptyFieldsWithoutFocusShowTheirPlaceholdersUnmasked) {
    field2.masked = true;
    run(SignInMode::SignIn);
    EXPECT_EQ(field1.text, "<117>");
    EXPECT_TRUE(field1.showsPlaceholder);
    EXPECT_EQ(field2.text, "<118>");
    EXPECT_TRUE(field2.showsPlaceholder);
    EXPECT_FALSE(field2.masked);
    EXPECT_EQ(field1.value(), "");
    EXPECT_EQ(field2.value(), "");
}

TEST_F(PlaceholderRulesTest, FocusEmptiesThePlaceholderAndMasksOnlyTypedText) {
    run(SignInMode::SignIn);
    field2.focused = true;
    run(SignInMode::SignIn);
    EXPECT_EQ(field2.text, "");
    EXPECT_FALSE(field2.showsPlaceholder);
    EXPECT_TRUE(field2.masked);
    EXPECT_TRUE(field1.showsPlaceholder);  // the other field keeps its placeholder

    // Typed text stays, masked, when the focus leaves.
    field2.text = "secret1";
    field2.focused = false;
    run(SignInMode::SignIn);
    EXPECT_EQ(field2.text, "secret1");
    EXPECT_TRUE(field2.masked);
    EXPECT_FALSE(field2.showsPlaceholder);
}

TEST_F(PlaceholderRulesTest, ForgotLinkKeepsTheTypedAddress) {
    field1 = typed("me@mail.com");
    field2 = typed("secret1", true);
    run(SignInMode::SignIn);
    run(SignInMode::ForgotPassword);
    EXPECT_EQ(field1.text, "me@mail.com");
    EXPECT_FALSE(field1.showsPlaceholder);
    EXPECT_EQ(field2.text, "<119>");
    EXPECT_TRUE(field2.showsPlaceholder);
    EXPECT_FALSE(field2.masked);
    EXPECT_EQ(setup.mode, SignInMode::ForgotPassword);

    // The way back keeps it too.
    field2 = typed("1234");
    run(SignInMode::SignIn);
    EXPECT_EQ(field1.text, "me@mail.com");
    EXPECT_FALSE(field1.showsPlaceholder);
    EXPECT_EQ(field2.text, "<118>");
    EXPECT_TRUE(field2.showsPlaceholder);
}

TEST_F(PlaceholderRulesTest, SwitchingModesReplacesTypedTextByThePlaceholders) {
    field1 = typed("me@mail.com");
    field2 = typed("secret1", true);
    run(SignInMode::SignIn);
    run(SignInMode::SignUp);
    EXPECT_EQ(field1.text, "<117>");
    EXPECT_EQ(field2.text, "<119>");
    EXPECT_FALSE(field2.masked);
}

TEST_F(PlaceholderRulesTest, AfterSettingAPasswordFieldOneShowsTheVerifiedAddress) {
    for (SignInMode from :
         {SignInMode::PasswordSetting, SignInMode::NewPasswordSetting, SignInMode::ChangePassword}) {
        SCOPED_TRACE(signInModeName(from));
        setup = PlaceholderSetup{};
        field1 = PlaceholderField{};
        field2 = PlaceholderField{};
        run(from);
        run(SignInMode::SignIn, "verified@mail.com");
        EXPECT_EQ(field1.text, "verified@mail.com");
        EXPECT_FALSE(field1.showsPlaceholder);
        EXPECT_FALSE(field1.masked);
        EXPECT_EQ(field2.text, "<118>");
        EXPECT_TRUE(field2.showsPlaceholder);
    }
}

TEST_F(PlaceholderRulesTest, MailboxViewsTakeTheAccountAddressAndKeepTheNewOne) {
    run(SignInMode::SignIn);
    run(SignInMode::ModifyMailbox, "me@mail.com");
    EXPECT_EQ(field1.text, "me@mail.com");
    EXPECT_FALSE(field1.showsPlaceholder);
    EXPECT_EQ(field2.text, "<119>");

    run(SignInMode::BindNewMailbox, "me@mail.com");
    EXPECT_EQ(field1.text, "<256>");
    EXPECT_TRUE(field1.showsPlaceholder);

    field1 = typed("new@mail.com");
    run(SignInMode::SignIn, "new@mail.com");
    EXPECT_EQ(field1.text, "new@mail.com");
    EXPECT_FALSE(field1.showsPlaceholder);
    EXPECT_EQ(field2.text, "<118>");
}

TEST_F(PlaceholderRulesTest, ModeChangeWithTheFocusInAFieldEmptiesThatFieldOnly) {
    setup.mode = SignInMode::SignUp;
    field1 = typed("me@mail.com");
    field2 = typed("12345");
    field1.focused = true;
    run(SignInMode::PasswordSetting);
    EXPECT_EQ(field1.text, "");
    EXPECT_TRUE(field1.masked);
    EXPECT_EQ(field2.text, "12345");

    // From BindNewMailbox a focused field 1 is not emptied.
    setup.mode = SignInMode::BindNewMailbox;
    field1 = typed("new@mail.com");
    field1.focused = true;
    run(SignInMode::SignIn);
    EXPECT_EQ(field1.text, "new@mail.com");
    EXPECT_EQ(field2.text, "<118>");
}

TEST_F(PlaceholderRulesTest, ChangePasswordPlaceholdersAreShownPlainAndTypedTextMasked) {
    run(SignInMode::SignIn);
    run(SignInMode::ChangePassword);
    EXPECT_EQ(field1.text, "<152>");
    EXPECT_EQ(field2.text, "<153>");
    EXPECT_FALSE(field1.masked);
    field1.focused = true;
    run(SignInMode::ChangePassword);
    EXPECT_EQ(field1.text, "");
    EXPECT_TRUE(field1.masked);
}

}  // namespace
}  // namespace krevol
