#pragma once
// UiServices that answer from a script instead of a person: every message box and dialog is
// recorded, and answers are taken from queues. Tests use it to drive commands; the
// command-line tool uses it to collect the messages a command would show.

#include "platform/UiServices.h"

#include <deque>
#include <functional>
#include <vector>

class ScriptedUiServices : public UiServices {
public:
    struct Message {
        QString m_strText;
        QString m_strCaption;
        unsigned m_nType = 0;

        unsigned Buttons() const { return m_nType & MB_TYPEMASK; }
        unsigned Icon() const { return m_nType & MB_ICONMASK; }
    };

    struct FileDialog {
        bool m_bSave = false;
        QString m_strTitle;
        QString m_strFilter;
        QString m_strProposal; ///< where the dialog was to start
    };

    enum class DialogKind { DataInput, DegMinSec, InputOptions, SelectImage, SelectUnit, Transformation, Rectify, Projection };

    /// What a modal dialog was opened with, recorded before the script answers it.
    struct DialogRecord {
        DialogKind m_Kind;
        CoordinateEntry m_Coordinates;
        DegMinSecEntry m_DegMinSec;
        ImageChoice m_Choice; ///< m_nSelection for every combo dialog; m_nImageCount for Select Image
        TransformationEntry m_Transformation = {};
        RectifyEntry m_Rectify = {};
        ProjectionPick m_Projection = {};
    };

    /// A scripted answer to a modal dialog: it may change the fields and returns IDOK or IDCANCEL.
    struct DialogAnswer {
        std::function<int(CoordinateEntry&)> m_OnDataInput = {};
        std::function<int(DegMinSecEntry&)> m_OnDegMinSec = {};
        std::function<int(int& selection)> m_OnChoice = {};
        std::function<int(TransformationEntry&)> m_OnTransformation = {};
        std::function<int(RectifyEntry&)> m_OnRectify = {};
        std::function<int(ProjectionPick&)> m_OnProjection = {};
    };

    // Recorded interaction, in order of occurrence.
    std::vector<Message> m_Messages;
    std::vector<FileDialog> m_FileDialogs;
    std::vector<DialogRecord> m_Dialogs;
    std::vector<QString> m_StatusTexts;
    std::vector<QString> m_RecentFiles;
    int m_nWaitCursorDepth = 0;
    std::vector<QString> m_LongWork; ///< the progress titles of long work, in order

    // Answers. An empty message queue answers with the first button of the box (IDOK or
    // IDYES); an empty file or dialog queue cancels.
    std::deque<int> m_MessageAnswers;
    std::deque<FileDialogResult> m_FileAnswers;
    std::deque<DialogAnswer> m_DialogAnswers;
    /// The user presses Cancel once long work reports this fraction of itself done (the next
    /// report then tells the work to stop); above 1, never.
    double m_dCancelAt = 2.0;

    // Convenience for scripting.
    void AnswerMessage(int answer) { m_MessageAnswers.push_back(answer); }
    void AnswerFile(const QString& path, int filterIndex) { m_FileAnswers.push_back({path, filterIndex}); }
    void CancelFile() { m_FileAnswers.push_back({}); }
    void AnswerCoordinates(const QString& latitude, const QString& longitude);
    void AnswerDegMinSec(const DegMinSecEntry& entry);
    void AnswerChoice(int selection);
    void CancelDialog();

    int MessageBox(const QString& text, const QString& caption, unsigned type) override;
    FileDialogResult OpenFileDialog(const QString& title, const QString& filter, const QString& proposal = {}) override;
    FileDialogResult SaveFileDialog(const QString& title, const QString& filter, const QString& proposal = {}) override;
    void ShowStatus(const QString& text) override { m_StatusTexts.push_back(text); }
    void NoteRecentFile(const QString& path) override { m_RecentFiles.push_back(path); }
    int RunDataInputDialog(CoordinateEntry& entry) override;
    int RunDegMinSecDialog(DegMinSecEntry& entry) override;
    int RunInputOptionsDialog(ComboChoice& choice) override;
    int RunSelectImageDialog(ImageChoice& choice) override;
    int RunSelectUnitDialog(ComboChoice& choice) override;
    int RunTransformationDialog(TransformationEntry& entry) override;
    int RunRectifyDialog(RectifyEntry& entry) override;
    int RunProjectionDialog(ProjectionPick& pick) override;
    void BeginWaitCursor() override { ++m_nWaitCursorDepth; }
    void EndWaitCursor() override { --m_nWaitCursorDepth; }
    bool RunLongWork(const QString& title, const std::function<void(Progress)>& work) override;

private:
    FileDialogResult NextFile(bool save, const QString& title, const QString& filter, const QString& proposal);
    int RunChoice(DialogKind kind, int& selection, int imageCount);
    DialogAnswer NextDialogAnswer();
};
