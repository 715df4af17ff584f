// Every text of every language fits its box on every screen at 96, 144 and
// 192 dpi, measured the way the drawing lays it out: one-line texts within
// their width, wrapped texts within their (possibly grown) box, the button
// row and the check-box row inside the window. The pseudo-language, 40 %
// longer than English, shows the room left for a new translation.
#include "window_fixture.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_fit.h"
#include "setup/window/drawing/window_fonts.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/drawing/window_paint_tools.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/text.h"

#include <gtest/gtest.h>

#include <set>

namespace qv::test {
namespace {

using Gdiplus::RectF;

const std::wstring somePath = L"C:\\Users\\Sam\\AppData\\Local\\QuorvelAI";

std::wstring english(TextId id, const std::vector<std::wstring>& values) {
    return fillPlaceholders(englishTexts()[id], values);
}

struct Scene {
    Screen screen = Screen::Welcome;
    SetupMode mode = SetupMode::Install;
    std::wstring status, detail, note;
    StatusLine line = StatusLine::Other;
    std::wstring code, message;
    bool retryable = false;
};

Scene scene(Screen screen, SetupMode mode) {
    Scene result;
    result.screen = screen;
    result.mode = mode;
    return result;
}

// Every screen with every text the steps can put on it.
std::vector<Scene> allScenes() {
    std::vector<Scene> scenes;
    for (SetupMode mode : {SetupMode::Install, SetupMode::Upgrade, SetupMode::Uninstall}) {
        for (Screen screen : {Screen::Welcome, Screen::WaitingForApp, Screen::Done,
                              Screen::ConfirmUninstall, Screen::Removed})
            scenes.push_back(scene(screen, mode));
        for (int line = 1; line <= 8; ++line) {
            auto id = static_cast<StatusLine>(line);
            Scene working = scene(Screen::Working, mode);
            working.status = english(statusLineId(id), {L"1.12.3"});
            working.detail = english(TX_DETAIL_AMOUNT_SPEED, {L"180.5 MB", L"1000.0 MB", L"12.5"});
            working.line = id;
            scenes.push_back(working);
        }
    }
    for (TextId shortId = TX_SHORT_PATH_LONG; shortId <= TX_SHORT_CANT_WRITE; ++shortId) {
        Scene welcome = scene(Screen::Welcome, SetupMode::Install);
        welcome.note = english(TX_NOTE_USING, {englishTexts()[shortId], somePath});
        scenes.push_back(welcome);
    }
    const wchar_t* const codes[] = {
        L"QV-CANCEL", L"QV-NET-1", L"QV-NET-2", L"QV-NET-3", L"QV-NET-4", L"QV-OLD-1", L"QV-NET-5",
        L"QV-HASH-1", L"QV-TEMP-1", L"QV-DISK-2", L"QV-UNPACK-1", L"QV-UNPACK-2", L"QV-PATH-2",
        L"QV-AV-1", L"QV-DISK-3", L"QV-DIR-1", L"QV-DIR-2", L"QV-DIR-3", L"QV-DIR-4", L"QV-PATH-1",
        L"QV-DISK-1", L"QV-RUN-1", L"QV-RUN-2", L"QV-INST-1", L"QV-INST-2", L"QV-INST-3",
        L"QV-INST-4", L"QV-SIG-1", L"QV-AV-2", L"QV-UN-1", L"QV-UN-2", L"QV-WIN-1", L"QV-WIN-2"};
    for (const wchar_t* code : codes) for (TextId id : errorMessageIds(code)) {
        std::wstring message = english(id, {somePath, somePath, somePath});
        for (bool retryable : {true, false}) {
            Scene failed = scene(Screen::Failed, retryable ? SetupMode::Install : SetupMode::Uninstall);
            failed.code = code;
            failed.message = message;
            failed.retryable = retryable;
            scenes.push_back(failed);
        }
        Scene welcome = scene(Screen::Welcome, SetupMode::Install);
        welcome.note = message;
        scenes.push_back(welcome);
    }
    return scenes;
}

void setScene(WindowState& state, const Scene& scene) {
    state.mode = scene.mode;
    state.status = scene.status;
    state.statusLine = scene.line;
    state.detail = scene.detail;
    state.note = scene.note;
    state.targetFraction = scene.screen == Screen::Working ? 1.0 : -1.0;
    state.shownFraction = 1.0;
    state.error.reset();
    if (scene.screen == Screen::Failed) {
        auto error = std::make_unique<SetupError>();
        error->code = scene.code;
        error->message = scene.message;
        error->retryable = scene.retryable;
        state.error = std::move(error);
    }
    setScreen(state, scene.screen);
}

struct Checker {
    WindowState& state;
    Gdiplus::Graphics& g;
    std::set<std::string> misfits;

    void fits(const char* what, const std::wstring& text, const Gdiplus::Font* font,
              const RectF& box, bool wrap) {
        bool fitted = true;
        RectF needed = measureText(g, text, font, box, wrap, &fitted);
        if (fitted) return;
        misfits.insert(std::string(what) + " needs " + std::to_string(needed.Width) + "x" +
                          std::to_string(needed.Height) + " of " + std::to_string(box.Width) + "x" +
                          std::to_string(box.Height) + ": " + toUtf8(text));
    }
    void inside(const char* what, const std::wstring& label, float left, float right,
                float bottom) {
        float W = scaled(state, 440);
        if (left >= scaled(state, 12) && right <= W - scaled(state, 12) &&
            bottom <= static_cast<float>(windowHeight(state)))
            return;
        misfits.insert(std::string(what) + " outside the window: " + toUtf8(label) + " at " +
                       std::to_string(static_cast<int>(left)) + ".." +
                       std::to_string(static_cast<int>(right)) + ", bottom " +
                       std::to_string(static_cast<int>(bottom)));
    }

    void check() {
        float W = scaled(state, 440);
        fits("title", screenTitle(state), state.titleFont.get(), titleBox(state, W), false);
        fits("body", bodyText(state), bodyFont(state), bodyBox(state, W), bodyWraps(state));
        for (const WindowButton& b : state.buttons) {
            if (b.id <= RowThird) inside("button", b.label, b.x, b.x + b.width, b.y + b.height);
            if (b.id == FolderLink || b.id == RemoveDataBox)
                inside("text row", L"", b.x, b.x + b.width, b.y + b.height);
        }
        if (state.screen == Screen::Failed)
            fits("error code", errorCodeText(state), state.smallFont.get(), errorCodeBox(state, W), false);
        if (state.screen == Screen::Working) {
            // The detail and the percentage share one line, left and right.
            RectF line(scaled(state, 64), belowBody(state, 276), W - scaled(state, 128), scaled(state, 20));
            float percent = textWidth(g, L"100%", state.smallFont.get()) + scaled(state, 8);
            fits("detail", shownDetail(state), state.smallFont.get(),
                 RectF(line.X, line.Y, line.Width - percent, line.Height), false);
        }
    }
};

// Each failure names the language, the dpi, the text and the room it
// needed; a translation that is too long, or a box that does not grow
// for a long message, fails here.
TEST(WindowFit, EveryTextOfEveryLanguageFitsAtEveryDpi) {
    allowPseudoLanguage();
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    std::vector<Scene> scenes = allScenes();
    std::vector<Language> languages;
    for (const LanguageInfo& info : shippedLanguages()) languages.push_back(info.language);
    languages.push_back(Language::Pseudo);
    size_t checked = 0;
    std::vector<std::string> misfits;
    {
        HDC screen = GetDC(nullptr);
        Gdiplus::Graphics g(screen);
        for (Language language : languages) {
            FakeSteps fake;
            WindowHarness h(fake, SetupMode::Install, true);
            WindowState& state = h.state();
            state.texts = Texts::load(language);
            for (int dpi : {96, 144, 192}) {
                state.dpi = dpi;
                createFonts(state);
                Checker checker{state, g, {}};
                for (const Scene& each : scenes) {
                    setScene(state, each);
                    checker.check();
                    ++checked;
                }
                for (const std::string& misfit : checker.misfits)
                    misfits.push_back(toUtf8(languageInfo(language).tag) + " at " +
                                      std::to_string(dpi) + " dpi: " + misfit);
            }
            state.titleFont.reset();
            state.bodyFont.reset();
            state.smallFont.reset();
            state.buttonFont.reset();
        }
        ReleaseDC(nullptr, screen);
    }
    Gdiplus::GdiplusShutdown(token);
    EXPECT_GT(checked, 18u * 3 * 150);
    std::string report;
    for (size_t i = 0; i < misfits.size() && i < 200; ++i) report += misfits[i] + "\n";
    EXPECT_TRUE(misfits.empty()) << misfits.size() << " misfits, the first:\n" << report;
}

}  // namespace
}  // namespace qv::test
