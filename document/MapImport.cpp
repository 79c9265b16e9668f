// The New command: replacing the document's map by a picture file or a TIFF file.

#include "document/CQuilletDoc.h"
#include "document/TiffImport.h"
#include "output/ProjectionFile.h"
#include "platform/UiServices.h"

#include <QFileInfo>

namespace {

const QString kNewMapFilter = QStringLiteral(
    "Picture Files (bmp.dib.emf.gif.ico.jpg.wmf.tif.tiff)|*.bmp;*.dib;*.emf;*.gif;*.ico;*.jpg;*.wmf;*.tif;*.tiff|"
    "BMP (*.bmp)|*.bmp|DIB (*.dib)|*.dib|EMF (*.emf)|*.emf|GIF (*.gif)|*.gif|ICO (*.ico)|*.ico|JPG (*.jpg)|*.jpg|"
    "WMF (*.wmf)|*.wmf|TIF (*.tif)|*.tif|TIFF (*.tiff)|*.tiff|All Files (*.*)|*.*||");

constexpr int kPictureFilesEntry = 1;

void ShowUnsupported()
{
    Ui().MessageBox(QStringLiteral("The file is not supported."), QStringLiteral("Invalid File"), MB_OK | MB_ICONSTOP);
}

} // namespace

BOOL CQuilletDoc::OnNewDocument()
{
    if (m_bInitialized) {
        if (m_bMapLoaded) {
            if (Ui().MessageBox(QStringLiteral("Do you want to use another map?"), QStringLiteral("New Map"),
                                MB_YESNO | MB_ICONINFORMATION) == IDNO)
                return FALSE;
            m_Images.clear();
            m_bGeoCoded = 0;
        }
        const FileDialogResult chosen = Ui().OpenFileDialog(QStringLiteral("Open a picture file"), kNewMapFilter);
        if (!chosen.Accepted())
            return FALSE;
        m_strMapPath = chosen.m_strPath;
        // The position of the chosen list entry is the kind of map.
        m_nMapType = chosen.m_nFilterIndex;
        if (m_nMapType == kPictureFilesEntry)
            GetMapTypeFromExtension(m_strMapPath);
        LoadMap();
    }
    m_bInitialized = 1;
    SetTitle(m_strMapPath);
    return TRUE;
}

void CQuilletDoc::GetMapTypeFromExtension(const QString& path)
{
    static const char* const kEndings[] = {"BMP", "DIB", "EMF", "GIF", "ICO", "JPG", "WMF", "TIF", "IFF"};
    // Only three characters are compared, so ".tiff" is known by "IFF".
    const QString ending = path.right(3).toUpper();
    for (int i = 0; i < 9; ++i) {
        if (ending == QLatin1String(kEndings[i])) {
            m_nMapType = i + 2;
            return;
        }
    }
}

void CQuilletDoc::LoadMap()
{
    m_ControlPoints.clear();
    m_MapFileData.clear();
    m_Images.clear();
    if (IsPictureMap())
        LoadPictureMap();
    else if (IsTiffMap())
        LoadTiffMap();
    else
        ShowUnsupported();
}

void CQuilletDoc::LoadPictureMap()
{
    QByteArray bytes;
    if (!m_strMapPath.isEmpty() && m_Picture.LoadFromFile(m_strMapPath, &bytes)) {
        m_bMapLoaded = 1;
        UpdateAllViews(nullptr);
    }
    // The file's bytes travel with the workspace and into projection files. A file that could
    // not be read leaves them empty, and the workspace then holds no picture.
    m_nMapFileSize = m_Picture.m_nByteSize;
    m_MapFileData = bytes;

    SetPictureFrame();
    m_nImageWidth = m_Picture.m_nWidth;
    m_nImageHeight = m_Picture.m_nHeight;
    m_bMapLoaded = 1;
    UpdateAllViews(nullptr);
}

void CQuilletDoc::LoadTiffMap()
{
    CWaitCursor wait;
    for (ImportedTiffImage& imported : ImportTiffImages(m_strMapPath))
        m_Images.push_back(std::move(imported.m_Image));
    m_bMapLoaded = 1;
    UpdateAllViews(nullptr);
}

bool CQuilletDoc::OpenDocumentFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("pws")) {
        if (!OpenWorkspaceFile(path))
            return false;
        m_bInitialized = 1;
        return true;
    }
    if (suffix == QStringLiteral("cpf") || suffix == QStringLiteral("dpf") || suffix == QStringLiteral("gpf")) {
        if (!OpenProjectionFile(path, suffix == QStringLiteral("cpf") ? ProjectionKind::Cpf : ProjectionKind::Dpf))
            return false;
        m_bInitialized = 1;
        return true;
    }
    static const QStringList kMapSuffixes = {QStringLiteral("bmp"), QStringLiteral("dib"), QStringLiteral("emf"),
                                             QStringLiteral("gif"), QStringLiteral("ico"), QStringLiteral("jpg"),
                                             QStringLiteral("jpeg"), QStringLiteral("wmf"), QStringLiteral("tif"),
                                             QStringLiteral("tiff")};
    if (!kMapSuffixes.contains(suffix)) {
        ShowUnsupported();
        return false;
    }
    // As if chosen under the first entry of the New dialog.
    m_bGeoCoded = 0;
    m_strMapPath = path;
    m_nMapType = kPictureFilesEntry;
    GetMapTypeFromExtension(path);
    LoadMap();
    m_bInitialized = 1;
    SetTitle(m_strMapPath);
    return true;
}
