// Opening saved work: projection files read back as the map.

#include "document/CQuilletDoc.h"
#include "output/ProjectionFile.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

bool CQuilletDoc::OpenProjectionFile(const QString& path, ProjectionKind kind)
{
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error)) {
        Ui().MessageBox(error, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR);
        return false;
    }
    ProjectionError refusal;
    const std::optional<ProjectionContents> contents =
        kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal);
    if (!contents) {
        Ui().MessageBox(refusal.m_strText, refusal.m_strCaption, refusal.m_nType);
        return false;
    }
    // The file is sound: it replaces the map, the points and the model.
    m_Images.clear();
    m_ControlPoints.clear();
    m_MapFileData.clear();
    m_strWorkspacePath = path;
    m_bGeoCoded = 0;
    m_nMapType = 2; // a projection file's picture counts as a BMP map
    ApplyProjection(*this, *contents, kind);
    if (m_pActiveView)
        m_pActiveView->m_bGeoTiffFrame = false; // a projection file's frame is never a GeoTIFF's
    SetTitle(path);
    return true;
}
