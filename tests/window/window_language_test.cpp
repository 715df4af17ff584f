// The window in the user's language: what a screen reader hears, where
// right-to-left puts things, and what the steps' English becomes.
#include "accessible_support.h"
#include "window_fixture.h"

#include "setup/window/accessibility/window_access.h"
#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_fonts.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/text.h"

#include <gtest/gtest.h>

#include <oleacc.h>

namespace qv::test {
namespace {

SetupOptions inLanguage(const wchar_t* tag) {
    SetupOptions options;
    options.language = tag;
    return options;
}

struct NamesCase {
    const wchar_t* tag;
    std::vector<std::wstring> names;  // children in order
};

// Each row fails when a name stays English, a child is missing, or the
// window's own name is not the user's.
TEST(WindowLanguage, ConfirmationScreenReadsInTheUsersLanguage) {
    ComApartment com;
    const NamesCase cases[] = {
        {L"de",
         {L"QuorvelAI deinstallieren?", L"Deine Roblox-Projekte bleiben unberührt.",
          L"Auch Einstellungen, Anmeldung und Chatverlauf löschen", L"Deinstallieren",
          L"Abbrechen", L"Minimieren", L"Fenster schließen"}},
        {L"ja",
         {L"QuorvelAI をアンインストールしますか？", L"Roblox のプロジェクトはそのまま残ります。",
          L"設定、サインイン情報、チャット履歴も削除する", L"アンインストール", L"キャンセル",
          L"最小化", L"ウィンドウを閉じる"}},
        {L"ar",
         {L"هل تريد إزالة تثبيت QuorvelAI؟", L"لن تُمسّ مشاريعك في Roblox.",
          L"احذف أيضًا الإعدادات وبيانات تسجيل الدخول وسجل الدردشة", L"إزالة التثبيت", L"إلغاء",
          L"تصغير", L"إغلاق النافذة"}},
    };
    for (const NamesCase& c : cases) {
        FakeSteps fake;
        WindowHarness h(fake, SetupMode::Uninstall, false, inLanguage(c.tag));
        h.start();
        ComPtr<IAccessible> object;
        AccessibleObjectFromWindow(h.state().window, static_cast<DWORD>(OBJID_CLIENT),
                                   accessibleIid, object.putVoid());
        ASSERT_TRUE(object);
        BSTR name = nullptr;
        object->get_accName(child(CHILDID_SELF), &name);
        EXPECT_EQ(takeString(name), uiText(h.state(), TX_WINDOW_TITLE_UNINSTALL));
        long count = 0;
        ASSERT_EQ(object->get_accChildCount(&count), S_OK);
        ASSERT_EQ(count, static_cast<long>(c.names.size())) << toUtf8(c.tag);
        for (long i = 0; i < count; ++i) {
            object->get_accName(child(i + 1), &name);
            EXPECT_EQ(takeString(name), c.names[static_cast<size_t>(i)]) << toUtf8(c.tag) << " " << i;
        }
        BSTR action = nullptr;
        object->get_accDefaultAction(child(3), &action);
        EXPECT_NE(takeString(action), L"Press") << toUtf8(c.tag);
    }
}

long screenLeft(IAccessible& object, long id) {
    long left = 0, top = 0, width = 0, height = 0;
    object.accLocation(&left, &top, &width, &height, child(id));
    return left;
}

// Fails when Arabic keeps the left-to-right order: the primary button must
// be the right one of the row, close and minimise on the left, the check
// box right of its label; the accessible boxes must say the same.
TEST(WindowLanguage, ArabicMirrorsTheLayoutAndTheAccessibleBoxes) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Uninstall, false, inLanguage(L"ar"));
    h.start();
    WindowState& state = h.state();
    auto box = [&](int32_t id) {
        for (const WindowButton& b : state.buttons)
            if (b.id == id) return b;
        return WindowButton{};
    };
    float W = scaled(state, 440);
    EXPECT_GT(box(RowFirst).x, box(RowSecond).x);
    EXPECT_TRUE(box(RowFirst).primary);
    EXPECT_FLOAT_EQ(box(CloseButton).x, scaled(state, 8));
    EXPECT_LT(box(CloseButton).x, box(MinimiseButton).x);
    EXPECT_LT(box(RemoveDataBox).x + box(RemoveDataBox).width, W);
    ComPtr<IAccessible> object;
    AccessibleObjectFromWindow(state.window, static_cast<DWORD>(OBJID_CLIENT), accessibleIid,
                               object.putVoid());
    ASSERT_TRUE(object);
    // Child 3 is the check box, 4 and 5 the row's buttons in reading
    // order, 6 and 7 minimise and close.
    EXPECT_GT(screenLeft(*object.get(), 4), screenLeft(*object.get(), 5));
    EXPECT_LT(screenLeft(*object.get(), 7), screenLeft(*object.get(), 6));

    // Tab walks the row from the right, the reading order; minimise comes
    // before close, which is now the leftmost.
    std::vector<float> rowOrder;
    for (int32_t id : focusOrder(state))
        if (id <= RowThird || id >= MinimiseButton) rowOrder.push_back(box(id).x);
    ASSERT_EQ(rowOrder.size(), 4u);
    EXPECT_GT(rowOrder[0], rowOrder[1]);
    EXPECT_GT(rowOrder[2], rowOrder[3]);

    // The same window in German keeps the left-to-right order.
    FakeSteps other;
    WindowHarness german(other, SetupMode::Uninstall, false, inLanguage(L"de"));
    german.start();
    EXPECT_LT(german.state().buttons[0].x, german.state().buttons[1].x);
}

// Fails when a status line, a detail, a note or an error stays English, or
// when "Copy details" loses the English message or the one shown.
TEST(WindowLanguage, StepsEnglishIsShownInTheUsersLanguage) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true, inLanguage(L"de"));
    h.start();
    WindowState& state = h.state();
    state.screen = Screen::Working;
    // As a step reports it, through the window's progress.
    Progress& progress = state.progress;
    progress.reportStatus(StatusLine::Downloading, L"Downloading QuorvelAI 1.2.3\u2026");
    EXPECT_TRUE(h.pumpUntil([&] { return !state.status.empty(); }));
    EXPECT_EQ(progressLine(state), L"QuorvelAI 1.2.3 wird heruntergeladen\u2026");
    h.send(MsgStatus, static_cast<WPARAM>(StatusLine::Other),
           reinterpret_cast<LPARAM>(new std::wstring(L"Downloading QuorvelAI 1.2.3\u2026")));
    EXPECT_EQ(progressLine(state), L"Downloading QuorvelAI 1.2.3\u2026");
    state.detail = L"12.0 MB of 80.5 MB  \u00B7  2.1 MB/s";
    EXPECT_EQ(shownDetail(state), L"12.0 MB von 80.5 MB  \u00B7  2.1 MB/s");
    state.note = L"Not enough space there. Using D:\\QuorvelAI instead.";
    EXPECT_EQ(shownNote(state),
              L"Dort ist nicht genug Platz. Stattdessen wird D:\\QuorvelAI verwendet.");
    state.note = L"That folder already has other files in it. Choose an empty folder.";
    EXPECT_EQ(shownNote(state),
              L"In diesem Ordner sind schon andere Dateien. Wähle einen leeren Ordner.");

    SetupError error;
    error.code = L"QV-UN-1";
    error.message = L"QuorvelAI is not installed in C:\\Q.";
    h.send(MsgFinished, 0, reinterpret_cast<LPARAM>(new SetupError(error)));
    ASSERT_EQ(state.screen, Screen::Failed);
    EXPECT_EQ(bodyText(state), L"QuorvelAI ist nicht in C:\\Q installiert.");
    EXPECT_EQ(errorCodeText(state), L"Fehler QV-UN-1");
    EXPECT_NE(state.report.find(L"\r\nQuorvelAI is not installed in C:\\Q.\r\nShown as: QuorvelAI "
                                L"ist nicht in C:\\Q installiert.\r\n"),
              std::wstring::npos)
        << toUtf8(state.report);
    EXPECT_NE(state.report.find(L"Error: QV-UN-1\r\n"), std::wstring::npos);
}

// Fails when a script gets a font without its glyphs, or when the
// language's families are not the ones the fonts are made from.
TEST(WindowLanguage, FontsFollowTheScript) {
    EXPECT_STREQ(uiFontFamilies(Script::Japanese).body.front(), L"Yu Gothic UI");
    EXPECT_STREQ(uiFontFamilies(Script::Korean).body.front(), L"Malgun Gothic");
    EXPECT_STREQ(uiFontFamilies(Script::ChineseSimplified).body.front(), L"Microsoft YaHei UI");
    EXPECT_STREQ(uiFontFamilies(Script::ChineseTraditional).body.front(), L"Microsoft JhengHei UI");
    EXPECT_STREQ(uiFontFamilies(Script::Thai).body.front(), L"Leelawadee UI");
    EXPECT_STREQ(uiFontFamilies(Script::Arabic).body.back(), L"Segoe UI");
    EXPECT_TRUE(uiFontFamilies(Script::Korean).boldHeadings);
    EXPECT_FALSE(uiFontFamilies(Script::Latin).boldHeadings);
}

}  // namespace
}  // namespace qv::test
