#include "app/CQuilletApp.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "document/CQuilletDoc.h"
#include "imaging/BitmapExport.h"
#include "output/OutputCommand.h"
#include "platform/CCmdUI.h"
#include "platform/QtUiServices.h"
#include "resources/Resource.h"
#include "view/core/PrintLayout.h"
#include "view/widgets/CQuilletView.h"

#include <functional>

#include <QCoreApplication>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

CQuilletApp::CQuilletApp() = default;

CQuilletApp::~CQuilletApp()
{
    if (m_pUi)
        UiServices::Install(nullptr);
}

bool CQuilletApp::InitInstance(const QStringList& arguments, int splashMilliseconds)
{
    // The framework's standard settings (window placement, recent files) live under this key.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Varnel"));

    m_pDocument = std::make_unique<CQuilletDoc>();
    m_pFrame = std::make_unique<CMainFrame>(*m_pDocument);
    m_pUi = std::make_unique<QtUiServices>(m_pFrame.get());
    UiServices::Install(m_pUi.get());
    RegisterCommands();
    if (!m_pFrame->Create(splashMilliseconds))
        return false;

    m_pFrame->m_OnOpenRecentFile = [this](const QString& path) { OpenFile(path); };
    if (arguments.isEmpty())
        m_pDocument->OnNewDocument(); // the start-up call only marks the document initialised
    m_pFrame->show();
    if (!arguments.isEmpty())
        OpenFile(arguments.constFirst());
    m_pFrame->UpdateCommandUI();
    return true;
}

void CQuilletApp::OpenFile(const QString& path)
{
    if (m_pDocument->OpenDocumentFile(path))
        m_pFrame->AddToRecentFiles(path);
    m_pFrame->UpdateCommandUI();
}

void CQuilletApp::OnFilePrint()
{
    QPrintDialog dialog(&Printer(), m_pFrame.get());
    if (dialog.exec() == QDialog::Accepted)
        PrintPage(Printer());
}

void CQuilletApp::OnFilePrintPreview()
{
    QPrintPreviewDialog preview(&Printer(), m_pFrame.get());
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, [this](QPrinter* printer) { PrintPage(*printer); });
    preview.exec();
}

void CQuilletApp::OnFilePrintSetup()
{
    QPageSetupDialog dialog(&Printer(), m_pFrame.get());
    dialog.exec();
}

QPrinter& CQuilletApp::Printer()
{
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_pPrinter;
}

void CQuilletApp::PrintPage(QPrinter& printer)
{
    QPainter painter(&printer);
    // The page area in the printer's device units, from the page's origin.
    PrintView(painter, *m_pDocument, printer.pageLayout().paintRectPixels(printer.resolution()).size());
}

void CQuilletApp::OnAppAbout()
{
    CAboutDlg about(m_pFrame.get());
    about.exec();
}

void CQuilletApp::RegisterCommands()
{
    CQuilletDoc& doc = *m_pDocument;
    CMainFrame& frame = *m_pFrame;
    CQuilletView& view = *frame.GetActiveView();
    ViewState& state = view.State();

    frame.SetCommand(ID_FILE_NEW, {[&doc] { doc.OnNewDocument(); }, {}});
    frame.SetCommand(ID_FILE_OPEN, {[&doc] { doc.OpenWorkspace(); }, {}});
    frame.SetCommand(ID_FILE_SAVE, {[&doc] { doc.SaveWorkspace(); }, {}});
    frame.SetCommand(ID_FILE_SAVE_AS, {[&doc] { doc.SaveWorkspaceAs(); }, {}});
    frame.SetCommand(ID_OUTPUT_GEO_MAP, {[&doc] { OnOutputGeoMap(doc); }, {}});
    frame.SetCommand(ID_SAVE_VIEW_AS_BITMAP,
                     {[&doc] { OnSaveViewAsBitmap(doc); }, [&doc](CCmdUI& ui) { OnUpdateSaveViewAsBitmap(doc, ui); }});
    frame.SetCommand(ID_FILE_PRINT, {[this] { OnFilePrint(); }, {}});
    frame.SetCommand(ID_FILE_PRINT_PREVIEW, {[this] { OnFilePrintPreview(); }, {}});
    frame.SetCommand(ID_FILE_PRINT_SETUP, {[this] { OnFilePrintSetup(); }, {}});
    frame.SetCommand(ID_APP_ABOUT, {[this] { OnAppAbout(); }, {}});
    frame.SetCommand(ID_SHOW_POINTS, {[&doc] { doc.OnShowPoints(); }, [&doc](CCmdUI& ui) { doc.OnUpdateShowPoints(ui); }});
    frame.SetCommand(ID_SELECT_UNIT, {[&doc] { doc.OnSelectUnit(); }, {}});

    // The view's tools; each command also sets the cursor of the tool it leaves on.
    const auto tool = [&view](std::function<void()> command, std::function<void(CCmdUI&)> update) {
        return CMainFrame::Command{[command, &view] {
                                       command();
                                       view.UpdateCursor();
                                   },
                                   std::move(update)};
    };
    frame.SetCommand(ID_ZOOM_IN, tool([&] { state.OnZoomIn(doc); }, [&](CCmdUI& ui) { state.OnUpdateZoomIn(doc, ui); }));
    frame.SetCommand(ID_ZOOM_OUT, tool([&] { state.OnZoomOut(doc); }, [&](CCmdUI& ui) { state.OnUpdateZoomOut(doc, ui); }));
    frame.SetCommand(ID_FIT_IN_WINDOW,
                     tool([&] { state.OnFitInWindow(doc); }, [&](CCmdUI& ui) { state.OnUpdateFitInWindow(doc, ui); }));
    frame.SetCommand(ID_SET_POINTS, tool([&] { state.OnSetPoints(doc); }, [&](CCmdUI& ui) { state.OnUpdateSetPoints(doc, ui); }));
    frame.SetCommand(ID_MOVE_POINTS,
                     tool([&] { state.OnMovePoints(doc, view); }, [&](CCmdUI& ui) { state.OnUpdateMovePoints(doc, ui); }));
    frame.SetCommand(ID_DELETE_POINT,
                     tool([&] { state.OnDeletePoint(doc); }, [&](CCmdUI& ui) { state.OnUpdateDeletePoint(doc, ui); }));
    frame.SetCommand(ID_MEASURE, tool([&] { state.OnMeasure(doc); }, [&](CCmdUI& ui) { state.OnUpdateMeasure(doc, ui); }));
    frame.SetCommand(ID_SELECT_RANGE,
                     tool([&] { state.OnSelectRange(doc, view); }, [&](CCmdUI& ui) { state.OnUpdateSelectRange(doc, ui); }));
    frame.SetCommand(ID_SELECT_IMAGES,
                     tool([&] { state.OnSelectImages(doc, view); }, [&](CCmdUI& ui) { state.OnUpdateSelectImages(doc, ui); }));
    frame.SetCommand(ID_INPUT_OPTIONS,
                     tool([&] { state.OnInputOptions(doc); }, [&](CCmdUI& ui) { state.OnUpdateInputOptions(doc, ui); }));
}
