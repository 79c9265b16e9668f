#pragma once

#include "document/CView.h"
#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "formats/WorkspaceFile.h"
#include "geo/CDataGeo.h"
#include "geo/GeoCodingChoice.h"
#include "geo/FitCrsConversion.h"
#include "geo/GeoFitResult.h"
#include "geo/GeoModel.h"
#include "geo/GeoTiffInfo.h"
#include "geo/UtmProjection.h"
#include "imaging/CPicture.h"
#include "imaging/DIBSection.h"
#include "platform/UiMessage.h"
#include "platform/WinTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUndoStack>

#include <memory>
#include <optional>
#include <vector>

/// What a change notice says changed (the hint passed to every view); bits combine.
namespace DocChange {
constexpr long kMap = 1;        ///< the map was replaced: picture or images, size, map frame, georeference
constexpr long kImage = 2;      ///< another image of a TIFF map was chosen
constexpr long kPoints = 4;     ///< the control points
constexpr long kGeoCoding = 8;  ///< the geo-coded flag, the model or the last fit
constexpr long kOptions = 16;   ///< showing points, input notation, distance unit, output flavour
constexpr long kPaths = 32;     ///< title, workspace or map path, saved state
constexpr long kReferences = 64; ///< the reference maps shown beside the map
constexpr long kAll = 0xFF;
} // namespace DocChange

/// How control-point coordinates are typed. A recovered value outside these is kept as it was
/// and reads as degrees, minutes and seconds.
enum class InputNotation : std::int32_t { DecimalDegrees = 0, DegreesMinutesSeconds = 1 };

/// What a point edit changes and what undoing it puts back: the control points and the
/// geo-coding (flag, all sixteen coefficients and the fit that produced them, the choice of
/// transformation and coordinate system and the model it gave).
struct PointsAndModel {
    std::vector<CDataGeo> m_Points;
    BOOL m_bGeoCoded = 0;
    GeoCoefficients m_dGeoCoef{};
    std::optional<GeoFitResult> m_LastFit;
    GeoCodingChoice m_Choice = {};
    std::shared_ptr<const GeoCoding> m_pGeoCoding = nullptr;
};

/// The one document: it owns the map (a picture and its file's bytes, or the images of a TIFF
/// map, with the GeoTIFF georeference of the loaded map), the control points, the geo-coding
/// model, the map frame, the options and the paths. Its state is read through const accessors
/// and changed only through the operations below, each of which tells every view once what
/// changed.
class CQuilletDoc {
public:
    CQuilletDoc();
    virtual ~CQuilletDoc();
    CQuilletDoc(const CQuilletDoc&) = delete;
    CQuilletDoc& operator=(const CQuilletDoc&) = delete;

    // --- views and title --------------------------------------------------------------------------
    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& Views() const { return m_Views; }
    /// Tells every view except sender what changed (DocChange bits).
    void UpdateAllViews(CView* sender, long hint = DocChange::kAll);
    /// The document's name: the path of its workspace (or opened projection file), else of its
    /// map; empty before any map.
    QString GetTitle() const;

    // --- the map ----------------------------------------------------------------------------------
    MapKind MapType() const { return m_nMapType; }
    bool IsMapLoaded() const { return m_bMapLoaded; }
    bool IsPictureMap() const { return IsPictureMapType(m_nMapType); }
    bool IsTiffMap() const { return IsTiffMapType(m_nMapType); }
    /// The start-up new-document call or a first map has happened.
    bool IsInitialized() const { return m_bInitialized; }
    /// The map's size in pixels, the one every point, model and command refers to: measured from
    /// the picture or image 0 of a TIFF map when loaded, as stored when saved work is opened.
    int ImageWidth() const { return m_nImageWidth; }
    int ImageHeight() const { return m_nImageHeight; }
    /// The map picture of every kind but TIFF.
    const CPicture& Picture() const { return m_Picture; }
    /// Exact bytes of the map picture file (picture maps).
    const QByteArray& MapFileData() const { return m_MapFileData; }
    int MapFileSize() const { return m_nMapFileSize; }
    /// Decoded images of a TIFF map, in directory order.
    const std::vector<DIBSection>& Images() const { return m_Images; }
    /// Index into Images() of the image shown and written (0 after every load).
    int CurrentImage() const { return m_nCurrentImage; }
    /// The current image, or null when there is none with pixels.
    const DIBSection* CurrentImageSection() const;
    const QString& MapPath() const { return m_strMapPath; }

    /// The map frame: south-west corner and spans. Degrees for a GeoTIFF frame, otherwise the
    /// unit square of a picture.
    const CDataGeo& GeoOrigin() const { return m_GeoOrigin; }
    const CDataGeo& GeoExtent() const { return m_GeoExtent; }
    /// The map's own GeoTIFF georeference is its frame: frame units are degrees.
    bool HasGeoTiffFrame() const { return m_bGeoTiffFrame; }
    /// A control point's place in frame units as fractions of the picture (from the left and
    /// from the bottom edge, the units a picture map keeps and CDataGeo's pixel conversions
    /// take), and back. Both leave a picture map's points as they are.
    CDataGeo InPictureFractions(CDataGeo point) const;
    CDataGeo InFrameUnits(CDataGeo point) const;
    /// The TIFF map's own georeference (image 0's), whether or not it gives a usable frame;
    /// nothing for a map without one. All images of a map share it.
    const std::optional<GeoTiffInfo>& Georeference() const { return m_GeoInfo; }
    /// The UTM projection of that georeference (null without a metric GeoTIFF frame).
    const UtmProjection& Projection() const { return m_UtmProjection; }

    // --- points and geo-coding --------------------------------------------------------------------
    const std::vector<CDataGeo>& ControlPoints() const { return m_ControlPoints; }
    bool IsGeoCoded() const { return m_bGeoCoded != 0; }
    const GeoCoefficients& GeoCoef() const { return m_Model.Coefficients(); }
    const GeoModel& Model() const { return m_Model; }
    /// The last run of the fit since the map was loaded, if any.
    const std::optional<GeoFitResult>& LastFit() const { return m_LastFit; }
    /// The transformation and coordinate system the map is geo-coded with from its points.
    const GeoCodingChoice& Choice() const { return m_Choice; }
    /// The model of a map geo-coded from its points otherwise than affinely in latitude and
    /// longitude (the last one accepted); null under the default choice and for a map its GeoTIFF
    /// frame geo-codes.
    const GeoCoding* ChosenModel() const
    {
        return m_Choice.IsDefault() || m_bGeoTiffFrame ? nullptr : m_pGeoCoding.get();
    }
    /// The map's geo-coding as one model, whatever made it (the chosen transformation, the affine
    /// model, the GeoTIFF georeference), for rectifying the map: a model of its own, which work on
    /// another thread may use while the window reads out through the document's. Null when the
    /// map is not geo-coded.
    std::shared_ptr<const GeoCoding> MapGeoCoding() const;
    PointsAndModel CapturePoints() const;
    /// The latitude and longitude of picture pixel (column, row), continuous from the picture's
    /// top-left corner: through the exact inverse projection of the map's GeoTIFF georeference
    /// when it is the frame, otherwise through the chosen model or by inverting the affine one.
    /// Nothing when none can answer.
    std::optional<GeoPosition> PositionOfPixel(double column, double row) const;

    // --- options and paths ------------------------------------------------------------------------
    bool ShowPoints() const { return m_bShowPoints; }
    InputNotation InputOption() const { return m_nInputOption; }
    /// Metres per distance unit: 0.3048 feet, 1.0 metres.
    double UnitFactor() const { return m_dUnitFactor; }
    /// Projection flavour last chosen; nothing before the first.
    std::optional<OutputFlavour> OutputFormat() const { return m_nOutputFormat; }
    const QString& WorkspacePath() const { return m_strWorkspacePath; }
    /// WorkspacePath() names the workspace of this map, chosen in a save dialog or opened, so
    /// that Save writes it without asking.
    bool IsWorkspaceNamed() const { return m_bWorkspaceNamed; }
    /// WorkspacePath() is the path of the projection file opened last, not a name chosen for a
    /// workspace: saving a workspace there would destroy that file.
    bool WorkspacePathIsProjectionFile() const;

    // --- changing the map (each first forgets the points, GeoTIFF state and files of the last) ----
    /// A picture file read by New: its picture, its bytes and its kind; not geo-coded.
    void InstallPictureMap(const QString& path, MapKind mapType, CPicture picture, const QByteArray& fileBytes);
    /// A TIFF file imported by New: image 0 becomes current and, when georeference (the map's,
    /// as image 0 carries it) gives a usable frame, the map is geo-coded at once.
    void InstallTiffMap(const QString& path, MapKind mapType, std::vector<DIBSection> images,
                        std::optional<GeoTiffInfo> georeference = std::nullopt);
    /// A checked workspace as Open reads it: for a TIFF map, images are the file's images decoded
    /// again and georeference the map's. The stored model and points are taken as they are (no
    /// fit); a TIFF map whose georeference is usable takes its frame from it. A picture map's
    /// picture is decoded from the stored bytes before anything changes, unless decoded gives it
    /// already (its picture is then taken over).
    /// choice is what the workspace's side file keeps; a map geo-coded under another than the
    /// default is fitted again to take up its model; references are the reference maps it keeps
    /// (the work stays saved).
    void InstallWorkspace(const QString& path, const WorkspaceContents& contents, std::vector<DIBSection> images,
                          CPicture* decoded = nullptr, std::optional<GeoTiffInfo> georeference = std::nullopt,
                          const GeoCodingChoice& choice = {}, QStringList references = {});
    /// A checked projection file as Open reads it: its picture becomes the map (a BMP map) and
    /// its coefficients the model. Returns the complaint about a model that cannot be inverted,
    /// the map then not being geo-coded. The picture is decoded before anything changes, unless
    /// decoded gives it already.
    std::optional<UiMessage> InstallProjection(const QString& path, const ProjectionContents& contents,
                                               ProjectionKind kind, CPicture* decoded = nullptr);
    /// The start-up new-document call: the document counts as initialised.
    void MarkInitialized();
    /// Chooses the image of a TIFF map that is shown and written; the map's size, frame and
    /// model stay those of image 0.
    void SelectImage(int index);

    // --- changing points and geo-coding ---------------------------------------------------------
    /// Replaces the control points and refits the model to them (see ComputeGeoFit); the result is
    /// kept as LastFit() and returned so that the caller can show its message.
    GeoFitResult SetControlPoints(std::vector<CDataGeo> points);
    /// Refits the model to the current points.
    GeoFitResult ComputeProjection();
    /// A completed point edit: the points become the new set, the model is refitted, and the
    /// edit is one step on the undo stack, named step ("Move Point 3").
    GeoFitResult EditPoints(const QString& step, std::vector<CDataGeo> points);
    /// Geo-codes the map with another transformation or in another coordinate system: the model
    /// is refitted to the points and the change is one step on the undo stack, named step.
    GeoFitResult EditChoice(const QString& step, const GeoCodingChoice& choice);
    /// Puts back points and geo-coding exactly as captured (no fit, no undo step).
    void RestorePoints(const PointsAndModel& state);
    /// The model derived from the map's GeoTIFF frame replaces the stored one (Output A Geo-Map
    /// of a map with a GeoTIFF frame writes and keeps it).
    void AdoptModel(const GeoModel& model);

    // --- edit history and saved state ---------------------------------------------------------------
    /// The point edits since the map was loaded; loading a map, New and opening a file clear it.
    QUndoStack& UndoStack() { return m_UndoStack; }
    const QUndoStack& UndoStack() const { return m_UndoStack; }
    /// The work differs from what was last saved: an edit, undo or redo away from the saved
    /// state, or work brought back after a crash.
    bool IsModified() const { return m_bUnsavedMap || !m_UndoStack.isClean(); }
    /// The work has just been saved (or opened from what was saved).
    void MarkSaved();
    /// The work is to be saved although the history does not say so (it was recovered).
    void MarkModified();

    // --- reference maps ----------------------------------------------------------------------------
    /// The reference maps shown beside the map (a raster and vector layers, as absolute paths),
    /// kept beside the workspace with its geo-coding choice.
    const QStringList& References() const { return m_References; }
    /// Replaces the reference maps; the work is then to be saved.
    void SetReferences(QStringList paths);

    // --- changing options and paths ---------------------------------------------------------------
    void SetShowPoints(bool show);
    void SetInputOption(InputNotation option);
    void SetUnitFactor(double metresPerUnit);
    void SetOutputFormat(std::optional<OutputFlavour> flavour);
    /// A name chosen for the workspace in a save dialog (no longer an opened projection file).
    void SetWorkspaceName(const QString& path);

private:
    /// Forgets the map, its points and its GeoTIFF state (nothing is sent).
    void ClearMap();
    /// The unit-square frame of a picture map.
    void SetPictureFrame();
    /// Image 0 of a TIFF map becomes current and gives the map's size and, from its
    /// georeference, the frame; returns whether that frame is a usable GeoTIFF frame.
    bool SetUpTiffImage0();
    /// Keeps the chosen model a fit accepted; the projection it found, when the choice was to find one.
    void AdoptChosenModel(std::shared_ptr<const GeoCoding> coding);
    void Notify(long what);

    MapKind m_nMapType = MapKind::None;
    std::optional<OutputFlavour> m_nOutputFormat;
    std::vector<DIBSection> m_Images;
    int m_nCurrentImage = 0;
    bool m_bMapLoaded = false;
    bool m_bShowPoints = true;
    bool m_bInitialized = false;
    bool m_bWorkspaceNamed = false;
    BOOL m_bGeoCoded = 0; ///< BOOL as the workspace stores it
    /// The map's size in pixels: the one the points and the model refer to. Taken from the picture
    /// or image 0 when a map is loaded, from the stored size when saved work is opened.
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
    InputNotation m_nInputOption = InputNotation::DecimalDegrees;
    double m_dUnitFactor = 0.3048;
    QString m_strWorkspacePath;
    /// The projection file opened last (empty once a workspace name has been chosen).
    QString m_strOpenedProjectionPath;
    QString m_strMapPath;
    CPicture m_Picture;
    CDataGeo m_GeoOrigin;
    CDataGeo m_GeoExtent;
    bool m_bGeoTiffFrame = false;
    std::optional<GeoTiffInfo> m_GeoInfo;
    UtmProjection m_UtmProjection;
    /// The read-out of a GeoTIFF whose keys define a system its citation's zone does not read
    /// right: PROJ from that system to WGS 84 (see SetUpGeoTiffFrame).
    std::optional<FitCrsConversion> m_GeoTiffCrs;
    std::vector<CDataGeo> m_ControlPoints;
    QByteArray m_MapFileData;
    int m_nMapFileSize = 0;
    GeoModel m_Model;
    std::optional<GeoFitResult> m_LastFit;
    GeoCodingChoice m_Choice = {};
    /// The last model the chosen transformation gave that was accepted, as m_Model is the last
    /// accepted affine one; kept while a rejected fit flags the map as not geo-coded.
    std::shared_ptr<const GeoCoding> m_pGeoCoding = nullptr;

    QStringList m_References;

    std::vector<CView*> m_Views;
    QUndoStack m_UndoStack;
    bool m_bUnsavedMap = false; ///< recovered work that no edit history shows
};
