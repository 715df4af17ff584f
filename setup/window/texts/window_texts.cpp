#include "setup/window/texts/window_texts.h"

#include "setup/window/drawing/window_drawing.h"

namespace qv {
namespace {

// How long the copy button says "Copied".
constexpr uint64_t copiedShowMs = 1600;

struct CodeSentences {
    const wchar_t* code;
    std::vector<TextId> ids;
};

// One code may be raised with several sentences; each is tried in turn.
const std::vector<CodeSentences>& errorSentences() {
    static const std::vector<CodeSentences> table = {
        {L"QV-CANCEL", {TX_ERR_CANCEL}},
        {L"QV-NET-1", {TX_ERR_NET_1}},
        {L"QV-NET-2", {TX_ERR_NET_2}},
        {L"QV-NET-3", {TX_ERR_NET_3}},
        {L"QV-NET-4", {TX_ERR_NET_4}},
        {L"QV-OLD-1", {TX_ERR_OLD_1}},
        {L"QV-NET-5", {TX_ERR_NET_5}},
        {L"QV-HASH-1", {TX_ERR_HASH_1}},
        {L"QV-TEMP-1", {TX_ERR_TEMP}},
        {L"QV-TEMP-2", {TX_ERR_TEMP}},
        {L"QV-DISK-2", {TX_ERR_DISK_2}},
        {L"QV-UNPACK-1", {TX_ERR_UNPACK_1}},
        {L"QV-UNPACK-2", {TX_ERR_UNPACK_2}},
        {L"QV-PATH-2", {TX_ERR_PATH_2}},
        {L"QV-AV-1", {TX_ERR_AV_1}},
        {L"QV-DISK-3", {TX_ERR_DISK_3}},
        {L"QV-DIR-1", {TX_ERR_DIR_1}},
        {L"QV-DIR-2", {TX_ERR_DIR_2_INSTALL, TX_ERR_DIR_2_THIS}},
        {L"QV-DIR-3", {TX_ERR_DIR_3_BLOCKED, TX_ERR_DIR_3}},
        {L"QV-DIR-4", {TX_ERR_DIR_4_PROJECTS, TX_ERR_DIR_4_OTHER}},
        {L"QV-PATH-1", {TX_ERR_PATH_1}},
        {L"QV-DISK-1", {TX_ERR_DISK_1}},
        {L"QV-RUN-1", {TX_ERR_RUN_1}},
        {L"QV-RUN-2", {TX_ERR_RUN_2}},
        {L"QV-INST-1", {TX_ERR_INST_1}},
        {L"QV-INST-2", {TX_ERR_INST_2}},
        {L"QV-INST-3", {TX_ERR_INST_3}},
        {L"QV-INST-4", {TX_ERR_INST_4}},
        {L"QV-SIG-1", {TX_ERR_SIG_1}},
        {L"QV-SIG-2", {TX_ERR_SIG_2}},
        {L"QV-SIG-3", {TX_ERR_SIG_3}},
        {L"QV-SIG-4", {TX_ERR_SIG_4}},
        {L"QV-AV-2", {TX_ERR_AV_2}},
        {L"QV-UN-1", {TX_ERR_UN_1}},
        {L"QV-UN-2", {TX_ERR_UN_2}},
        {L"QV-WIN-1", {TX_ERR_WIN_1}},
        {L"QV-WIN-2", {TX_ERR_WIN_2}},
    };
    return table;
}

// The folder check's sentences, which a welcome note may hold whole.
const std::vector<TextId> folderProblemIds = {
    TX_ERR_DIR_1, TX_ERR_DIR_2_THIS, TX_ERR_DIR_3_BLOCKED, TX_ERR_DIR_3, TX_ERR_DIR_4_PROJECTS,
    TX_ERR_DIR_4_OTHER, TX_ERR_PATH_1, TX_ERR_DISK_1};

const std::vector<TextId> shortProblemIds = {TX_SHORT_PATH_LONG, TX_SHORT_PROJECTS,
                                             TX_SHORT_OTHER_FILES, TX_SHORT_NO_SPACE,
                                             TX_SHORT_NOT_FULL, TX_SHORT_CANT_WRITE};

}  // namespace

const std::wstring& uiText(const WindowState& state, TextId id) { return state.texts.get(id); }

const std::wstring& windowTitle(const WindowState& state) {
    return uiText(state, state.mode == SetupMode::Uninstall ? TX_WINDOW_TITLE_UNINSTALL : TX_WINDOW_TITLE);
}

std::wstring copyLabel(const WindowState& state) {
    bool showing = state.copiedAt != 0 && GetTickCount64() - state.copiedAt < copiedShowMs;
    return uiText(state, showing ? TX_BUTTON_COPIED : TX_BUTTON_COPY);
}

std::wstring screenTitle(const WindowState& state) {
    switch (state.screen) {
    case Screen::Welcome:
        return L"QuorvelAI";
    case Screen::Working:
        if (state.mode == SetupMode::Uninstall) return uiText(state, TX_TITLE_REMOVING);
        return uiText(state, state.mode == SetupMode::Upgrade ? TX_TITLE_UPDATING
                                                              : TX_TITLE_INSTALLING);
    case Screen::WaitingForApp:
        return uiText(state, TX_TITLE_CLOSE_APP);
    case Screen::Failed:
        return uiText(state, state.mode == SetupMode::Uninstall ? TX_TITLE_NOT_REMOVED
                                                                : TX_TITLE_WENT_WRONG);
    case Screen::Done:
        return uiText(state, state.mode == SetupMode::Upgrade ? TX_TITLE_UP_TO_DATE : TX_TITLE_READY);
    case Screen::ConfirmUninstall:
        return uiText(state, TX_TITLE_CONFIRM_UNINSTALL);
    case Screen::Removed:
        return uiText(state, TX_TITLE_REMOVED);
    }
    return L"";
}

std::wstring progressLine(const WindowState& state) {
    // The flag stays set after a cancel that came too late to stop the run.
    if (state.cancelRequested.load() && state.screen != Screen::Done)
        return uiText(state, TX_CANCELLING);
    if (state.screen == Screen::WaitingForApp) return uiText(state, TX_WAITING_BODY);
    if (state.screen == Screen::Done)
        return uiText(state, state.mode == SetupMode::Upgrade ? TX_STARTING_NEW_VERSION
                                                              : TX_STARTING_APP);
    return shownStatus(state);
}

std::wstring folderHoverText(const WindowState& state) {
    return state.texts.format(TX_INSTALLS_TO, {state.folder});
}

std::wstring errorCodeText(const WindowState& state) {
    return state.texts.format(TX_ERROR_CODE, {state.error ? state.error->code : std::wstring()});
}

std::vector<TextId> errorMessageIds(const std::wstring& code) {
    for (const CodeSentences& entry : errorSentences())
        if (code == entry.code) return entry.ids;
    return {};
}

TextId statusLineId(StatusLine line) {
    switch (line) {
    case StatusLine::CheckingLatest: return TX_STATUS_CHECKING_LATEST;
    case StatusLine::CheckingEarlierDownload: return TX_STATUS_CHECKING_EARLIER;
    case StatusLine::Downloading: return TX_STATUS_DOWNLOADING;
    case StatusLine::CheckingDownload: return TX_STATUS_CHECKING_DOWNLOAD;
    case StatusLine::Installing: return TX_STATUS_INSTALLING;
    case StatusLine::Finishing: return TX_STATUS_FINISHING;
    case StatusLine::WaitingForApp: return TX_STATUS_WAITING_FOR_APP;
    case StatusLine::Removing: return TX_STATUS_REMOVING;
    case StatusLine::Other: break;
    }
    return 0;
}

std::wstring shownStatus(const WindowState& state) {
    TextId id = statusLineId(state.statusLine);
    if (id == 0) return state.status;
    return state.texts.translate(state.status, {id});
}

std::wstring shownDetail(const WindowState& state) {
    return state.texts.translate(state.detail, {TX_DETAIL_AMOUNT_SPEED, TX_DETAIL_AMOUNT});
}

std::wstring shownErrorMessage(const Texts& texts, const SetupError& error) {
    return texts.translate(error.message, errorMessageIds(error.code));
}

std::wstring shownNote(const WindowState& state) {
    const Texts& texts = state.texts;
    // "<short problem> Using <folder> instead." from the worker's fallback.
    std::vector<std::wstring> values;
    if (matchPlaceholders(englishTexts()[TX_NOTE_USING], state.note, values) && values.size() == 2) {
        std::wstring problem = texts.translate(values[0], shortProblemIds);
        return texts.format(TX_NOTE_USING, {problem, values[1]});
    }
    // A whole problem text, or the message of an error the user came back from.
    std::wstring shown = texts.translate(state.note, folderProblemIds);
    if (shown != state.note) return shown;
    for (const auto& entry : errorSentences()) {
        shown = texts.translate(state.note, entry.ids);
        if (shown != state.note) return shown;
    }
    return state.note;
}

std::wstring reportWithShownMessage(const std::wstring& report, const std::wstring& english,
                                    const std::wstring& shown) {
    if (shown == english) return report;
    // The third line is the English message; the shown one follows it.
    size_t at = 0;
    for (int line = 0; line < 3 && at != std::wstring::npos; ++line) {
        at = report.find(L"\r\n", at);
        if (at != std::wstring::npos) at += 2;
    }
    if (at == std::wstring::npos) return report + L"Shown as: " + shown + L"\r\n";
    return report.substr(0, at) + L"Shown as: " + shown + L"\r\n" + report.substr(at);
}

}  // namespace qv
