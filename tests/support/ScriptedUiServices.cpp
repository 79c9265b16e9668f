#include "ScriptedUiServices.h"

int ScriptedUiServices::MessageBox(const QString& text, const QString& caption, unsigned type)
{
    m_Messages.push_back({text, caption, type});
    if (!m_MessageAnswers.empty()) {
        const int answer = m_MessageAnswers.front();
        m_MessageAnswers.pop_front();
        return answer;
    }
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

FileDialogResult ScriptedUiServices::NextFile(bool save, const QString& title, const QString& filter,
                                              const QString& proposal)
{
    m_FileDialogs.push_back({save, title, filter, proposal});
    if (m_FileAnswers.empty())
        return {};
    FileDialogResult answer = m_FileAnswers.front();
    m_FileAnswers.pop_front();
    return answer;
}

FileDialogResult ScriptedUiServices::OpenFileDialog(const QString& title, const QString& filter, const QString& proposal)
{
    return NextFile(false, title, filter, proposal);
}

FileDialogResult ScriptedUiServices::SaveFileDialog(const QString& title, const QString& filter, const QString& proposal)
{
    return NextFile(true, title, filter, proposal);
}

void ScriptedUiServices::AnswerCoordinates(const QString& latitude, const QString& longitude)
{
    DialogAnswer answer;
    answer.m_OnDataInput = [latitude, longitude](CoordinateEntry& entry) {
        entry.m_strLatitude = latitude;
        entry.m_strLongitude = longitude;
        return IDOK;
    };
    m_DialogAnswers.push_back(answer);
}

void ScriptedUiServices::AnswerDegMinSec(const DegMinSecEntry& typed)
{
    DialogAnswer answer;
    answer.m_OnDegMinSec = [typed](DegMinSecEntry& entry) {
        entry = typed;
        return IDOK;
    };
    m_DialogAnswers.push_back(answer);
}

void ScriptedUiServices::AnswerChoice(int selection)
{
    DialogAnswer answer;
    answer.m_OnChoice = [selection](int& chosen) {
        chosen = selection;
        return IDOK;
    };
    m_DialogAnswers.push_back(answer);
}

void ScriptedUiServices::CancelDialog()
{
    m_DialogAnswers.push_back({});
}

ScriptedUiServices::DialogAnswer ScriptedUiServices::NextDialogAnswer()
{
    if (m_DialogAnswers.empty())
        return {};
    DialogAnswer answer = m_DialogAnswers.front();
    m_DialogAnswers.pop_front();
    return answer;
}

int ScriptedUiServices::RunDataInputDialog(CoordinateEntry& entry)
{
    DialogRecord record{DialogKind::DataInput, entry, {}, {}};
    m_Dialogs.push_back(record);
    const DialogAnswer answer = NextDialogAnswer();
    if (!answer.m_OnDataInput)
        return IDCANCEL;
    CoordinateEntry edited = entry;
    const int result = answer.m_OnDataInput(edited);
    if (result == IDOK)
        entry = edited;
    return result;
}

int ScriptedUiServices::RunDegMinSecDialog(DegMinSecEntry& entry)
{
    DialogRecord record{DialogKind::DegMinSec, {}, entry, {}};
    m_Dialogs.push_back(record);
    const DialogAnswer answer = NextDialogAnswer();
    if (!answer.m_OnDegMinSec)
        return IDCANCEL;
    DegMinSecEntry edited = entry;
    const int result = answer.m_OnDegMinSec(edited);
    if (result == IDOK)
        entry = edited;
    return result;
}

int ScriptedUiServices::RunChoice(DialogKind kind, int& selection, int imageCount)
{
    m_Dialogs.push_back({kind, {}, {}, {selection, imageCount}});
    const DialogAnswer answer = NextDialogAnswer();
    if (!answer.m_OnChoice)
        return IDCANCEL;
    int chosen = selection;
    const int result = answer.m_OnChoice(chosen);
    if (result == IDOK)
        selection = chosen;
    return result;
}

int ScriptedUiServices::RunInputOptionsDialog(ComboChoice& choice)
{
    return RunChoice(DialogKind::InputOptions, choice.m_nSelection, 0);
}

int ScriptedUiServices::RunSelectImageDialog(ImageChoice& choice)
{
    return RunChoice(DialogKind::SelectImage, choice.m_nSelection, choice.m_nImageCount);
}

int ScriptedUiServices::RunSelectUnitDialog(ComboChoice& choice)
{
    return RunChoice(DialogKind::SelectUnit, choice.m_nSelection, 0);
}

/// Records the dialog, then lets the next answer fill the entry (on IDOK only).
template <typename Entry>
int RunEntryDialog(ScriptedUiServices& ui, ScriptedUiServices::DialogRecord record, Entry& entry,
                   std::function<int(Entry&)> answer)
{
    ui.m_Dialogs.push_back(std::move(record));
    if (!answer)
        return IDCANCEL;
    Entry edited = entry;
    const int result = answer(edited);
    if (result == IDOK)
        entry = edited;
    return result;
}

int ScriptedUiServices::RunTransformationDialog(TransformationEntry& entry)
{
    DialogRecord record{DialogKind::Transformation, {}, {}, {}, entry};
    return RunEntryDialog(*this, record, entry, NextDialogAnswer().m_OnTransformation);
}

int ScriptedUiServices::RunRectifyDialog(RectifyEntry& entry)
{
    DialogRecord record{DialogKind::Rectify, {}, {}, {}, {}, entry};
    return RunEntryDialog(*this, record, entry, NextDialogAnswer().m_OnRectify);
}

int ScriptedUiServices::RunProjectionDialog(ProjectionPick& pick)
{
    DialogRecord record{DialogKind::Projection, {}, {}, {}, {}, {}, pick};
    return RunEntryDialog(*this, record, pick, NextDialogAnswer().m_OnProjection);
}

bool ScriptedUiServices::RunLongWork(const QString& title, const std::function<void(Progress)>& work)
{
    m_LongWork.push_back(title);
    ProgressState state;
    state.m_OnReport = [this, &state](double fraction) {
        if (fraction >= m_dCancelAt)
            state.Cancel();
    };
    work(Progress(state));
    return !state.Cancelled();
}
