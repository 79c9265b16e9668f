#include "app/QtUiServices.h"
#include <cmath>
#include "geo/PointEntry.h"

#include "app/CComboChoiceDialog.h"
#include "app/CDataInputDialog.h"
#include "app/DialogDegMinSec.h"
#include "app/RectifyDialog.h"
#include "app/ProjectionDialog.h"
#include "app/TransformationDialog.h"
#include "platform/FileFilter.h"
#include "platform/Version.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSpacerItem>
#include <QTimer>

#include <exception>
#include <memory>
#include <system_error>
#include <thread>

QStringList QtUiServices::QtNameFilters(const QString& filter)
{
    QStringList names;
    for (const FileFilterEntry& entry : ParseFileFilter(filter)) {
        const QString patterns = entry.m_Patterns.join(QLatin1Char(' '));
        // "GPF (*.gpf)" already shows its pattern; Qt reads the patterns from the last brackets.
        if (entry.m_strDescription.endsWith(QStringLiteral("(%1)").arg(patterns)))
            names << entry.m_strDescription;
        else
            names << QStringLiteral("%1 (%2)").arg(entry.m_strDescription, patterns);
    }
    return names;
}

void QtUiServices::PrepareMessageBox(QMessageBox& box, const QString& text, const QString& caption, unsigned type)
{
    box.setWindowTitle(caption);
    // Messages carry file names and file contents: a name that looks like markup is shown as
    // it is, never as rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MB_YESNOCANCEL:
        // "Save changes to ...?": No discards the changes, Cancel (and Escape) keeps the work
        // and gives up what was about to replace it.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    // A message box sizes itself to its text alone, and the window manager then cuts a longer
    // caption short ("Point... etion"): a spacer across the box, added last as the buttons and
    // the icon rebuild its layout, keeps it wide enough, with room for the title bar's buttons.
    constexpr int kTitleBarAllowance = 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int width = box.fontMetrics().horizontalAdvance(caption) + kTitleBarAllowance;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

int QtUiServices::MessageBox(const QString& text, const QString& caption, unsigned type)
{
    QMessageBox box(m_pParent);
    PrepareMessageBox(box, text, caption, type);
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return (type & MB_TYPEMASK) == MB_OKCANCEL && box.clickedButton() == nullptr ? IDCANCEL : IDOK;
    }
}

FileDialogResult QtUiServices::RunFileDialog(bool save, const QString& title, const QString& filter,
                                            const QString& proposal)
{
    QFileDialog dialog(m_pParent, title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The command asks about replacing the file it finally writes, whose name it derives.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList names = QtNameFilters(filter);
    dialog.setNameFilters(names);
    if (!proposal.isEmpty()) {
        const QFileInfo where(proposal);
        if (where.isDir()) {
            dialog.setDirectory(where.absoluteFilePath());
        } else {
            dialog.setDirectory(where.absolutePath());
            if (save)
                dialog.selectFile(where.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    // The command acts on the position of the chosen filter entry, not on the file's name.
    const qsizetype index = names.indexOf(dialog.selectedNameFilter());
    return {dialog.selectedFiles().constFirst(), index >= 0 ? int(index) + 1 : 1};
}

FileDialogResult QtUiServices::OpenFileDialog(const QString& title, const QString& filter, const QString& proposal)
{
    return RunFileDialog(false, title, filter, proposal);
}

FileDialogResult QtUiServices::SaveFileDialog(const QString& title, const QString& filter, const QString& proposal)
{
    return RunFileDialog(true, title, filter, proposal);
}

void QtUiServices::ShowStatus(const QString& text)
{
    if (m_ShowStatus)
        m_ShowStatus(text);
}

void QtUiServices::NoteRecentFile(const QString& path)
{
    if (m_NoteRecentFile)
        m_NoteRecentFile(path);
}

namespace {

/// A picked position as typed coordinates: to a ten-millionth of a degree (a centimetre), which
/// no click is finer than.
ArcSeconds PickedArcSeconds(const GeoPosition& at)
{
    const auto rounded = [](double degrees) { return std::round(degrees * 1e7) / 1e7 * 3600.0; };
    return {rounded(at.m_dLatitude), rounded(at.m_dLongitude)};
}

} // namespace

/// Runs a coordinate dialog until it closes with OK or Cancel. Its "Pick on Reference" closes it
/// for a click on the reference map, after which it comes back with the fields as typed, or with
/// the picked position when there was a pick.
template <class Dialog, class Entry>
int QtUiServices::RunPickingDialog(Entry& entry, void (*fill)(Dialog&, const Entry&),
                                   void (*keep)(const Dialog&, Entry&), void (*picked)(const ArcSeconds&, Entry&))
{
    for (;;) {
        Dialog dialog(m_pParent);
        fill(dialog, entry);
        dialog.m_bOfferPick = m_CanPickOnReference && m_PickOnReference && m_CanPickOnReference();
        const int result = dialog.DoModal();
        if (result == IDOK || result == kPickOnReference)
            keep(dialog, entry);
        if (result != kPickOnReference)
            return result;
        if (const std::optional<GeoPosition> at = m_PickOnReference())
            picked(PickedArcSeconds(*at), entry);
    }
}

int QtUiServices::RunDataInputDialog(CoordinateEntry& entry)
{
    return RunPickingDialog<CDataInputDialog, CoordinateEntry>(
        entry,
        [](CDataInputDialog& dialog, const CoordinateEntry& from) {
            dialog.m_strLatitude = from.m_strLatitude;
            dialog.m_strLongitude = from.m_strLongitude;
            dialog.m_nFocusField = from.m_nFocusField;
            dialog.m_strProjectedCrs = from.m_strProjectedCrs;
            dialog.m_bProjected = from.m_bProjected;
        },
        [](const CDataInputDialog& dialog, CoordinateEntry& to) {
            to.m_strLatitude = dialog.m_strLatitude;
            to.m_strLongitude = dialog.m_strLongitude;
            to.m_bProjected = dialog.m_bProjected;
        },
        [](const ArcSeconds& at, CoordinateEntry& to) {
            const CoordinateEntry typed = FormatDecimal(at);
            to.m_strLatitude = typed.m_strLatitude;
            to.m_strLongitude = typed.m_strLongitude;
            to.m_bProjected = false;
        });
}

int QtUiServices::RunDegMinSecDialog(DegMinSecEntry& entry)
{
    return RunPickingDialog<DialogDegMinSec, DegMinSecEntry>(
        entry,
        [](DialogDegMinSec& dialog, const DegMinSecEntry& from) {
            dialog.m_strLatDeg = from.m_strLatDeg;
            dialog.m_strLatMin = from.m_strLatMin;
            dialog.m_strLatSec = from.m_strLatSec;
            dialog.m_strLonDeg = from.m_strLonDeg;
            dialog.m_strLonMin = from.m_strLonMin;
            dialog.m_strLonSec = from.m_strLonSec;
            dialog.m_nFocusField = from.m_nFocusField;
        },
        [](const DialogDegMinSec& dialog, DegMinSecEntry& to) {
            to = {dialog.m_strLatDeg, dialog.m_strLatMin, dialog.m_strLatSec,
                  dialog.m_strLonDeg, dialog.m_strLonMin, dialog.m_strLonSec, to.m_nFocusField};
        },
        [](const ArcSeconds& at, DegMinSecEntry& to) {
            DegMinSecEntry typed = FormatDegMinSec(at);
            typed.m_nFocusField = to.m_nFocusField;
            to = typed;
        });
}

namespace {

int RunChoice(CComboChoiceDialog& dialog, int& selection)
{
    dialog.m_nSelection = selection;
    const int result = dialog.DoModal();
    if (result == IDOK)
        selection = dialog.m_nSelection;
    return result;
}

} // namespace

int QtUiServices::RunInputOptionsDialog(ComboChoice& choice)
{
    CDialogInputoptions dialog(m_pParent);
    return RunChoice(dialog, choice.m_nSelection);
}

int QtUiServices::RunSelectImageDialog(ImageChoice& choice)
{
    CDialogSelimg dialog(m_pParent);
    dialog.m_nImageCount = choice.m_nImageCount;
    return RunChoice(dialog, choice.m_nSelection);
}

int QtUiServices::RunSelectUnitDialog(ComboChoice& choice)
{
    CDialogSelunit dialog(m_pParent);
    return RunChoice(dialog, choice.m_nSelection);
}

int QtUiServices::RunTransformationDialog(TransformationEntry& entry)
{
    TransformationDialog dialog(m_pParent);
    return dialog.DoModal(entry);
}

int QtUiServices::RunProjectionDialog(ProjectionPick& pick)
{
    ProjectionDialog dialog(m_pParent);
    return dialog.DoModal(pick);
}

int QtUiServices::RunRectifyDialog(RectifyEntry& entry)
{
    RectifyDialog dialog(m_pParent);
    return dialog.DoModal(entry);
}

void QtUiServices::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUiServices::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

bool QtUiServices::RunLongWork(const QString& title, const std::function<void(Progress)>& work)
{
    // Short work shows only the wait cursor; the dialog comes after this long.
    constexpr int kDialogDelayMs = 500;
    constexpr int kTickMs = 40;
    constexpr int kSteps = 1000;

    ProgressState state;
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    QEventLoop loop;
    ++m_nBusy;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto run = [&] {
        try {
            work(Progress(state));
        } catch (...) {
            failure = std::current_exception(); // handed to the command on this thread below
        }
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    std::thread worker;
    try {
        worker = std::thread(run);
    } catch (const std::system_error&) {
        run(); // no thread to be had (memory is short): the work runs here while the window waits
    }

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (!dialog && clock.elapsed() >= kDialogDelayMs) {
            dialog = std::make_unique<QProgressDialog>(title, QStringLiteral("Cancel"), 0, kSteps, m_pParent);
            dialog->setWindowTitle(ApplicationTitle());
            dialog->setWindowModality(Qt::ApplicationModal);
            dialog->setAutoReset(false);
            dialog->setAutoClose(false);
            dialog->setMinimumDuration(0);
            QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(), [&state, &dialog] {
                state.Cancel();
                dialog->setLabelText(QStringLiteral("Cancelling..."));
                dialog->setCancelButton(nullptr);
            });
            QApplication::restoreOverrideCursor(); // the dialog's button must look clickable
            dialog->show();
            loop.quit(); // back in below with the user's input let through to the dialog
        }
        if (dialog && !state.Cancelled())
            dialog->setValue(static_cast<int>(state.Fraction() * kSteps));
    });
    tick.start(kTickMs);
    // Until the dialog is up, clicks and keys wait (they would start other commands on the
    // document the work reads); paint events and timers go on.
    while (!finished)
        loop.exec(dialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    if (worker.joinable())
        worker.join();
    tick.stop();
    const bool cancelled = state.Cancelled();
    if (dialog) {
        // Closing a progress dialog says "canceled"; the work is over and must not hear it.
        QObject::disconnect(dialog.get(), &QProgressDialog::canceled, nullptr, nullptr);
        dialog->close();
    } else {
        QApplication::restoreOverrideCursor();
    }
    --m_nBusy;
    if (failure)
        std::rethrow_exception(failure);
    return !cancelled;
}
