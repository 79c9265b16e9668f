#include "platform/UiServices.h"

#include <cstdio>

namespace {

/// Answers when no user interface is installed: messages are printed to standard error
/// so that no failure goes unseen, and every dialog is cancelled.
class FallbackUiServices final : public UiServices {
public:
    int MessageBox(const QString& text, const QString& caption, unsigned type) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDCANCEL;
    }
    FileDialogResult OpenFileDialog(const QString&, const QString&, const QString&) override { return {}; }
    FileDialogResult SaveFileDialog(const QString&, const QString&, const QString&) override { return {}; }
    void ShowStatus(const QString&) override {}
    int RunDataInputDialog(CoordinateEntry&) override { return IDCANCEL; }
    int RunDegMinSecDialog(DegMinSecEntry&) override { return IDCANCEL; }
    int RunInputOptionsDialog(ComboChoice&) override { return IDCANCEL; }
    int RunSelectImageDialog(ImageChoice&) override { return IDCANCEL; }
    int RunSelectUnitDialog(ComboChoice&) override { return IDCANCEL; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};

FallbackUiServices g_fallback;
UiServices* g_current = nullptr;

} // namespace

void UiServices::NoteRecentFile(const QString&) {}

int UiServices::RunTransformationDialog(TransformationEntry&)
{
    return IDCANCEL;
}

int UiServices::RunRectifyDialog(RectifyEntry&)
{
    return IDCANCEL;
}

int UiServices::RunProjectionDialog(ProjectionPick&)
{
    return IDCANCEL;
}

bool UiServices::RunLongWork(const QString&, const std::function<void(Progress)>& work)
{
    ProgressState state;
    work(Progress(state));
    return !state.Cancelled();
}

UiServices& UiServices::Current()
{
    return g_current ? *g_current : g_fallback;
}

UiServices* UiServices::Install(UiServices* services)
{
    UiServices* previous = g_current;
    g_current = services;
    return previous;
}
