#include "app/CQuilletApp.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "document/CQuilletDoc.h"
#include "platform/CCmdUI.h"
#include "platform/QtUiServices.h"
#include "resources/Resource.h"
#include "view/widgets/CQuilletView.h"

#include <QCoreApplication>

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

    // With no file named, the start-up New only marks the document initialised.
    Q_UNUSED(arguments);
    m_pFrame->setWindowTitle(QStringLiteral("Varnel"));
    m_pFrame->show();
    m_pFrame->UpdateCommandUI();
    return true;
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
    const auto mapLoaded = [&doc](CCmdUI& ui) { ui.Enable(doc.m_bMapLoaded != 0); };

    frame.SetCommand(ID_APP_ABOUT, {[this] { OnAppAbout(); }, {}});
    frame.SetCommand(ID_SHOW_POINTS, {[&doc] { doc.OnShowPoints(); }, [&doc](CCmdUI& ui) { doc.OnUpdateShowPoints(ui); }});
    frame.SetCommand(ID_SELECT_UNIT, {[&doc] { doc.OnSelectUnit(); }, {}});
    frame.SetCommand(ID_INPUT_OPTIONS, {[&view] { view.OnInputOptions(); }, mapLoaded});
}
