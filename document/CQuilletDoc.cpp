#include "document/CQuilletDoc.h"

#include "document/PointEditStep.h"
#include "geo/GeoFit.h"
#include "geo/GeoTiffFrame.h"
#include "geo/MapCrs.h"

#include <algorithm>

CQuilletDoc::CQuilletDoc() = default;

CQuilletDoc::~CQuilletDoc()
{
    // Release what the document owns in the reverse order of its fields.
    m_MapFileData.clear();
    m_ControlPoints.clear();
    m_Picture.Free();
    m_Images.clear();
}

void CQuilletDoc::AddView(CView* view)
{
    if (view && std::find(m_Views.begin(), m_Views.end(), view) == m_Views.end())
        m_Views.push_back(view);
}

void CQuilletDoc::RemoveView(CView* view)
{
    m_Views.erase(std::remove(m_Views.begin(), m_Views.end(), view), m_Views.end());
}

void CQuilletDoc::UpdateAllViews(CView* sender, long hint)
{
    // A view may leave the document while being told; walk a copy.
    const std::vector<CView*> views = m_Views;
    for (CView* view : views)
        if (view != sender)
            view->OnUpdate(sender, hint);
}

void CQuilletDoc::Notify(long what)
{
    UpdateAllViews(nullptr, what);
}

QString CQuilletDoc::GetTitle() const
{
    // One name for the work, wherever it is shown: the workspace it is saved in, else its map.
    return m_strWorkspacePath.isEmpty() ? m_strMapPath : m_strWorkspacePath;
}

const DIBSection* CQuilletDoc::CurrentImageSection() const
{
    if (m_nCurrentImage < 0 || m_nCurrentImage >= static_cast<int>(m_Images.size()))
        return nullptr;
    const DIBSection& image = m_Images[static_cast<size_t>(m_nCurrentImage)];
    return image.m_pBits ? &image : nullptr;
}

bool CQuilletDoc::WorkspacePathIsProjectionFile() const
{
    return !m_strOpenedProjectionPath.isEmpty() && m_strWorkspacePath == m_strOpenedProjectionPath;
}

PointsAndModel CQuilletDoc::CapturePoints() const
{
    return {m_ControlPoints, m_bGeoCoded, m_Model.Coefficients(), m_LastFit, m_Choice, m_pGeoCoding};
}

std::optional<GeoPosition> CQuilletDoc::PositionOfPixel(double column, double row) const
{
    if (m_bGeoTiffFrame)
        return GeoTiffPixelToGeographic(*m_GeoInfo, m_UtmProjection, m_GeoTiffCrs, column, row);
    if (const GeoCoding* chosen = ChosenModel())
        return chosen->PixelToGeo(column, row);
    return m_Model.Inverse(column, row);
}

std::shared_ptr<const GeoCoding> CQuilletDoc::MapGeoCoding() const
{
    if (!IsGeoCoded())
        return nullptr;
    std::optional<GeoCoding> coding;
    if (ChosenModel()) {
        // Fitted once more to the same points: the document's own model serves the window's
        // read-out, and a model serves one thread at a time.
        coding = GeoCoding::Analyse(m_Choice.m_eTransform, m_Choice.m_FitCrs,
                                    GeoControlPoints(m_ControlPoints, m_nImageWidth, m_nImageHeight), false)
                     .m_GeoCoding;
        return coding ? std::make_shared<const GeoCoding>(std::move(*coding)) : nullptr;
    }
    if (m_bGeoTiffFrame) {
        // The georeference itself, in the system its keys or its citation name.
        const GeoTiffInfo& info = *m_GeoInfo;
        const QString system = m_GeoTiffCrs ? info.m_strCrs : m_UtmProjection ? CrsOfGeoTiff(info).Name() : QString();
        if (const std::optional<FitCrs> crs = system.isEmpty() ? std::optional<FitCrs>(FitCrs{}) : FitCrs::Parse(system))
            coding = GeoCoding::FromGeoTransform(*crs, GeoTiffGeoTransform(info));
    } else if (const std::optional<std::array<double, 6>> gt = m_Model.GeoTransform()) {
        coding = GeoCoding::FromGeographicTransform(*gt);
    }
    return coding ? std::make_shared<const GeoCoding>(std::move(*coding)) : nullptr;
}

// --- changing the map ------------------------------------------------------------------------------

void CQuilletDoc::ClearMap()
{
    m_Images.clear();
    m_ControlPoints.clear();
    m_MapFileData.clear();
    m_nMapFileSize = 0;
    m_Picture.Free();
    m_nCurrentImage = 0;
    m_LastFit.reset();
    // Each map is geo-coded as its own work chooses; a new one starts with the default.
    m_Choice = {};
    m_pGeoCoding.reset();
    m_References.clear();
    // The history belongs to the map that is going.
    m_UndoStack.clear();
    m_bUnsavedMap = false;
    // The frame, its projection and its flag belong to the map that is going.
    m_bGeoTiffFrame = false;
    m_GeoInfo.reset();
    FreeUtmProjection(m_UtmProjection);
    m_GeoTiffCrs.reset();
    // So do the files: the work on another map is saved under a name of its own, never in the
    // workspace of the map before.
    m_strMapPath.clear();
    m_strWorkspacePath.clear();
    m_strOpenedProjectionPath.clear();
    m_bWorkspaceNamed = false;
}

CDataGeo CQuilletDoc::InPictureFractions(CDataGeo point) const
{
    point.m_dImageX = (point.m_dImageX - m_GeoOrigin.m_dLongitude) / m_GeoExtent.m_dLongitude;
    point.m_dImageY = (point.m_dImageY - m_GeoOrigin.m_dLatitude) / m_GeoExtent.m_dLatitude;
    return point;
}

CDataGeo CQuilletDoc::InFrameUnits(CDataGeo point) const
{
    point.m_dImageX = m_GeoOrigin.m_dLongitude + point.m_dImageX * m_GeoExtent.m_dLongitude;
    point.m_dImageY = m_GeoOrigin.m_dLatitude + point.m_dImageY * m_GeoExtent.m_dLatitude;
    return point;
}

void CQuilletDoc::SetPictureFrame()
{
    m_GeoOrigin = {0.0, 0.0, 0.0, 0.0};
    m_GeoExtent = {1.0, 1.0, 0.0, 0.0};
}

bool CQuilletDoc::SetUpTiffImage0()
{
    m_nCurrentImage = 0;
    m_bGeoTiffFrame = false;
    if (m_Images.empty() || !m_Images.front().m_pBits) {
        SetPictureFrame();
        return false;
    }
    const DIBSection& image = m_Images.front();
    m_nImageWidth = image.m_nWidth;
    m_nImageHeight = image.m_nHeight;
    if (m_GeoInfo) {
        const GeoTiffFrame frame =
            ::SetUpGeoTiffFrame(*m_GeoInfo, image.m_nWidth, image.m_nHeight, m_UtmProjection, m_GeoTiffCrs);
        if (frame.m_bGeoTiffFrame) {
            m_bGeoTiffFrame = true;
            m_GeoOrigin = frame.m_Origin;
            m_GeoExtent = frame.m_Extent;
            return true;
        }
    }
    // Without a usable georeference the image is a plain picture.
    FreeUtmProjection(m_UtmProjection);
    m_GeoTiffCrs.reset();
    SetPictureFrame();
    return false;
}

void CQuilletDoc::InstallPictureMap(const QString& path, MapKind mapType, CPicture picture, const QByteArray& fileBytes)
{
    ClearMap();
    m_strMapPath = path;
    m_nMapType = mapType;
    m_Picture = std::move(picture);
    // The file's bytes travel with the workspace and into projection files.
    m_MapFileData = fileBytes;
    m_nMapFileSize = m_Picture.m_nByteSize;
    m_nImageWidth = m_Picture.m_nWidth;
    m_nImageHeight = m_Picture.m_nHeight;
    SetPictureFrame();
    // A new map is not geo-coded; the last model stays in the coefficients until a fit.
    m_bGeoCoded = 0;
    m_bMapLoaded = true;
    m_bInitialized = true;
    // A map just loaded is no work yet: the first point edit is.
    Notify(DocChange::kAll);
}

void CQuilletDoc::InstallTiffMap(const QString& path, MapKind mapType, std::vector<DIBSection> images,
                                 std::optional<GeoTiffInfo> georeference)
{
    ClearMap();
    m_strMapPath = path;
    m_nMapType = mapType;
    m_Images = std::move(images);
    m_GeoInfo = std::move(georeference);
    m_nImageWidth = 0;
    m_nImageHeight = 0;
    m_bGeoCoded = SetUpTiffImage0() ? 1 : 0;
    m_bMapLoaded = true;
    m_bInitialized = true;
    // A map just loaded is no work yet: the first point edit is.
    Notify(DocChange::kAll);
}

void CQuilletDoc::InstallWorkspace(const QString& path, const WorkspaceContents& contents,
                                   std::vector<DIBSection> images, CPicture* decoded,
                                   std::optional<GeoTiffInfo> georeference, const GeoCodingChoice& choice,
                                   QStringList references)
{
    // Decoding is what can run out of memory: it happens while the document is still as it was.
    CPicture picture;
    if (decoded)
        picture = std::move(*decoded);
    else if (IsPictureMapType(contents.Kind()))
        picture.LoadFromMemory(contents.m_PictureBytes.value_or(QByteArray()));
    ClearMap();
    m_bGeoCoded = contents.m_nGeoCoded != 0 ? 1 : 0;
    m_nMapType = contents.Kind();
    // The size the map was worked on wins over what its picture measures: the points and the
    // model refer to it.
    m_nImageWidth = contents.m_nImageWidth;
    m_nImageHeight = contents.m_nImageHeight;
    m_Model = GeoModel(contents.m_dGeoCoef);

    if (IsPictureMapType(contents.Kind())) {
        const QByteArray bytes = contents.m_PictureBytes.value_or(QByteArray());
        m_strMapPath.clear(); // the picture travels inside the workspace
        m_MapFileData = bytes;
        m_nMapFileSize = static_cast<int>(bytes.size());
        m_Picture = std::move(picture);
        m_ControlPoints = contents.m_ControlPoints;
        SetPictureFrame();
    } else if (IsTiffMapType(contents.Kind())) {
        const WorkspaceTiffPart tiff = contents.m_Tiff.value_or(WorkspaceTiffPart{});
        m_GeoOrigin = tiff.m_GeoOrigin;
        m_GeoExtent = tiff.m_GeoExtent;
        m_strMapPath = tiff.MapPath();
        m_Images = std::move(images);
        m_GeoInfo = std::move(georeference);
        m_ControlPoints = contents.m_ControlPoints;
        // Image 0's georeference, when usable, is the frame and geo-codes the map; otherwise the
        // stored geo-coding (from control points) stays as it was saved.
        if (!m_Images.empty() && SetUpTiffImage0())
            m_bGeoCoded = 1;
    }
    m_Choice = choice;
    if (!m_Choice.IsDefault() && !m_bGeoTiffFrame) {
        // Only the affine approximation is stored: the chosen model is fitted again to the same
        // points, which gives it exactly as it was saved.
        GeoFitResult fit = ComputeGeoFit(m_Choice, m_ControlPoints, m_nImageWidth, m_nImageHeight,
                                         m_Model.Coefficients(), m_bGeoCoded);
        AdoptChosenModel(std::move(fit.m_GeoCoding));
        if (!m_pGeoCoding)
            m_bGeoCoded = 0;
    }
    m_References = std::move(references);
    // An opened workspace is saved where it was opened from, however it was opened.
    m_strWorkspacePath = path;
    m_bWorkspaceNamed = true;
    m_bMapLoaded = true;
    m_bInitialized = true;
    Notify(DocChange::kAll);
}

std::optional<UiMessage> CQuilletDoc::InstallProjection(const QString& path, const ProjectionContents& contents,
                                                        ProjectionKind kind, CPicture* decoded)
{
    CPicture picture;
    if (decoded)
        picture = std::move(*decoded);
    else
        picture.LoadFromMemory(contents.m_Payload);
    ClearMap();
    m_strWorkspacePath = path;
    // Remembered so that Save asks for a workspace name instead of writing over this file.
    m_strOpenedProjectionPath = path;
    m_nMapType = MapKind::Bmp; // a projection file's picture counts as a BMP map
    m_nImageWidth = contents.m_nWidth;
    m_nImageHeight = contents.m_nHeight;
    m_Model = GeoModel(contents.m_dGeoCoef);
    m_MapFileData = contents.m_Payload;
    m_nMapFileSize = static_cast<int>(contents.m_Payload.size());
    m_Picture = std::move(picture);
    // The file's coefficients alone define the geo-coding; the frame is a picture's.
    SetPictureFrame();
    const std::optional<UiMessage> refusal = ProjectionGeoRefusal(contents, kind);
    m_bGeoCoded = refusal ? 0 : 1;
    m_bMapLoaded = true;
    m_bInitialized = true;
    Notify(DocChange::kAll);
    return refusal;
}

void CQuilletDoc::MarkInitialized()
{
    m_bInitialized = true;
    Notify(DocChange::kPaths);
}

void CQuilletDoc::SelectImage(int index)
{
    if (index < 0 || index >= static_cast<int>(m_Images.size()) || index == m_nCurrentImage)
        return;
    m_nCurrentImage = index;
    Notify(DocChange::kImage);
}

// --- changing points and geo-coding ----------------------------------------------------------------

GeoFitResult CQuilletDoc::SetControlPoints(std::vector<CDataGeo> points)
{
    m_ControlPoints = std::move(points);
    return ComputeProjection();
}

GeoFitResult CQuilletDoc::ComputeProjection()
{
    GeoFitResult fit =
        ComputeGeoFit(m_Choice, m_ControlPoints, m_nImageWidth, m_nImageHeight, m_Model.Coefficients(), m_bGeoCoded);
    m_bGeoCoded = fit.m_bGeoCoded;
    m_Model = GeoModel(fit.m_dGeoCoef);
    if (m_Choice.IsDefault())
        m_pGeoCoding.reset();
    else if (fit.m_GeoCoding)
        AdoptChosenModel(fit.m_GeoCoding);
    m_LastFit = fit;
    Notify(DocChange::kPoints | DocChange::kGeoCoding);
    return fit;
}

void CQuilletDoc::AdoptChosenModel(std::shared_ptr<const GeoCoding> coding)
{
    m_pGeoCoding = std::move(coding);
    // A projection found for "auto" becomes the fit system itself: it is saved beside the
    // workspace as any system is, and the search does not run again on every fit and open.
    if (m_pGeoCoding && m_Choice.m_FitCrs.GetKind() == FitCrs::Kind::Auto)
        m_Choice.m_FitCrs = m_pGeoCoding->Crs();
}

GeoFitResult CQuilletDoc::EditPoints(const QString& step, std::vector<CDataGeo> points)
{
    PointsAndModel before = CapturePoints();
    GeoFitResult fit = SetControlPoints(std::move(points));
    m_UndoStack.push(new PointEditStep(*this, step, std::move(before), CapturePoints()));
    return fit;
}

GeoFitResult CQuilletDoc::EditChoice(const QString& step, const GeoCodingChoice& choice)
{
    PointsAndModel before = CapturePoints();
    m_Choice = choice;
    // The last model belongs to the choice before: this choice starts from none of its own.
    m_pGeoCoding.reset();
    GeoFitResult fit = ComputeProjection();
    m_UndoStack.push(new PointEditStep(*this, step, std::move(before), CapturePoints()));
    return fit;
}

void CQuilletDoc::RestorePoints(const PointsAndModel& state)
{
    m_ControlPoints = state.m_Points;
    m_bGeoCoded = state.m_bGeoCoded;
    m_Model = GeoModel(state.m_dGeoCoef);
    m_LastFit = state.m_LastFit;
    m_Choice = state.m_Choice;
    m_pGeoCoding = state.m_pGeoCoding;
    Notify(DocChange::kPoints | DocChange::kGeoCoding);
}

void CQuilletDoc::AdoptModel(const GeoModel& model)
{
    m_Model = model;
    Notify(DocChange::kGeoCoding);
}

void CQuilletDoc::MarkSaved()
{
    m_UndoStack.setClean();
    m_bUnsavedMap = false;
    Notify(DocChange::kPaths);
}

void CQuilletDoc::MarkModified()
{
    m_bUnsavedMap = true;
    Notify(DocChange::kPaths);
}

void CQuilletDoc::SetReferences(QStringList paths)
{
    if (paths == m_References)
        return;
    m_References = std::move(paths);
    m_bUnsavedMap = true;
    Notify(DocChange::kReferences | DocChange::kPaths);
}

// --- changing options and paths ----------------------------------------------------------------------

void CQuilletDoc::SetShowPoints(bool show)
{
    m_bShowPoints = show;
    Notify(DocChange::kOptions);
}

void CQuilletDoc::SetInputOption(InputNotation option)
{
    m_nInputOption = option;
    Notify(DocChange::kOptions);
}

void CQuilletDoc::SetUnitFactor(double metresPerUnit)
{
    m_dUnitFactor = metresPerUnit;
    Notify(DocChange::kOptions);
}

void CQuilletDoc::SetOutputFormat(std::optional<OutputFlavour> flavour)
{
    m_nOutputFormat = flavour;
    Notify(DocChange::kOptions);
}

void CQuilletDoc::SetWorkspaceName(const QString& path)
{
    m_strWorkspacePath = path;
    m_bWorkspaceNamed = true;
    // The user named a workspace: the path no longer stands for an opened projection file.
    m_strOpenedProjectionPath.clear();
    Notify(DocChange::kPaths);
}
