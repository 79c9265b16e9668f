#pragma once

#include "document/CDataGeo.h"
#include "imaging/CPicture.h"
#include "imaging/DIBSection.h"
#include "platform/WinTypes.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <memory>
#include <vector>

class CCmdUI;
class ViewState;
enum class ProjectionKind;
class CView;

/// The one document: it owns every piece of working data for the whole run, that is the map
/// (a picture and its file's bytes, or the images of a TIFF map), the control points, the
/// geo-coding model, the map's geographic frame, the options and the paths. Views read and
/// write these fields directly and are told of changes through UpdateAllViews.
class CQuilletDoc {
public:
    CQuilletDoc();
    virtual ~CQuilletDoc();
    CQuilletDoc(const CQuilletDoc&) = delete;
    CQuilletDoc& operator=(const CQuilletDoc&) = delete;

    // Views and title, as a document of the desktop framework has them.
    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& Views() const { return m_Views; }
    /// Tells every view except sender that the document changed.
    void UpdateAllViews(CView* sender, long hint = 0);
    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title) { m_strTitle = title; }

    // Commands that belong to the document itself.
    /// Show points: with a map loaded toggles m_bShowPoints; always asks the views to update.
    void OnShowPoints();
    /// Enabled while a map is loaded; only then the check mark follows m_bShowPoints.
    void OnUpdateShowPoints(CCmdUI& cmdUI) const;
    /// Select unit: asks for feet or metres and sets m_dUnitFactor on OK.
    void OnSelectUnit();

    /// Refits the geo-coding model to the control points after an edit of the point set: stores
    /// m_bGeoCoded and m_dGeoCoef, shows the accuracy or the list of offending points in at most
    /// one message box, and asks the views to repaint (hint kHintRepaint).
    void ComputeProjection();
    /// UpdateAllViews hint: only the drawing changed (points, model or flag); the view repaints
    /// without reloading the map or recomputing its frame and geo-coding from a GeoTIFF.
    static constexpr long kHintRepaint = 1;

    // Map import.
    /// The new-document operation (File New, and once at start-up): asks for a map file and
    /// loads it. FALSE when the user declined or cancelled, TRUE otherwise.
    BOOL OnNewDocument();
    /// Sets m_nMapType from the last three characters of path (picture kind 1 when none match).
    void GetMapTypeFromExtension(const QString& path);
    /// Loads a file named on the command line or picked from the recent files: workspaces and
    /// projection files as Open reads them, picture and TIFF files as a new map, anything else is
    /// refused. The document then counts as initialised. True when the file was taken.
    bool OpenDocumentFile(const QString& path);
    /// Opens a CPF (kind Cpf) or a GPF/DPF (kind Dpf) as the map: the file is read and checked
    /// whole first, so a file that cannot be read or is refused changes nothing; otherwise the
    /// map, points and model are replaced by the file's and the title becomes its path.
    bool OpenProjectionFile(const QString& path, ProjectionKind kind);

    // Workspace commands.
    /// Save (57603): with a map loaded, writes the workspace to the name chosen earlier. Asks for
    /// a name first when none has been chosen, and also when m_strWorkspacePath names a
    /// projection file that was opened, so a workspace is never written over it.
    void SaveWorkspace();
    /// Save As (57604): with a map loaded, always asks for a name; after Cancel the workspace is
    /// written to the name chosen earlier in the run, if any (never over an opened projection file).
    void SaveWorkspaceAs();
    /// Writes the workspace file at m_strWorkspacePath through a temporary file renamed over the
    /// target only when complete. Reports a failed write ("Can not open this file."), and a map
    /// that is not geo-coded ("Invalid projection. Need more points.") after writing it.
    void WriteWorkspace();
    /// Open (57601): asks for a file and reads it by the selected filter entry, not by its
    /// extension: 1 workspace, 2 CPF, 3 DPF; 4 (All Files) is refused with a message. A file
    /// that is refused changes nothing.
    void OpenWorkspace();
    /// Reads and checks the workspace file whole, then installs it as Open does (see
    /// ReadWorkspaceFile) with the active view; a refused file is reported (caption "Invalid
    /// File") and changes nothing. True when the file was taken.
    bool OpenWorkspaceFile(const QString& path);
    /// The Save Work Space dialog: on OK stores the chosen path, its file name cut at the first
    /// "." and ".pws" appended, in m_strWorkspacePath and sets m_bWorkspaceNamed; true on OK.
    bool ChooseWorkspaceName();

private:
    /// True while m_strWorkspacePath is the path of the projection file opened last, not a name
    /// chosen for a workspace.
    bool WorkspacePathIsProjectionFile() const;
    /// The projection file opened last (empty once a workspace name has been chosen). Kept apart
    /// from m_bWorkspaceNamed, which the name dialog alone sets, so that Save can tell an opened
    /// CPF or DPF from a workspace by comparing it with m_strWorkspacePath.
    QString m_strOpenedProjectionPath;

public:
    /// Installs the unit-square frame of a picture map in the four frame members.
    void SetPictureFrame();
    /// True for map kinds 1 to 8, whose map is m_Picture with its file bytes.
    bool IsPictureMap() const { return m_nMapType >= 1 && m_nMapType <= 8; }
    /// True for map kinds 9 and 10, whose map is one of m_Images.
    bool IsTiffMap() const { return m_nMapType == 9 || m_nMapType == 10; }

    int m_nMapType = 0;                       ///< kind of map: 0 none, 1-8 picture, 9-10 TIFF
    int m_nOutputFormat = 0;                  ///< projection flavour last chosen: 1 GPF, 2 DPF, 3 CPF
    std::vector<DIBSection> m_Images;         ///< decoded images of a TIFF map, in directory order
    int m_nCurrentImage = 0;                  ///< index into m_Images of the image last rendered
    BOOL m_bMapLoaded = 0;                    ///< a map is loaded
    BOOL m_bSetPoints = 0;                    ///< the Set points tool is on
    BOOL m_bShowPoints = 1;                   ///< control points are drawn
    BOOL m_bInitialized = 0;                  ///< the start-up new-document call has happened
    BOOL m_bWorkspaceNamed = 0;               ///< m_strWorkspacePath was chosen in a save dialog
    BOOL m_bGeoCoded = 0;                     ///< m_dGeoCoef holds a valid model
    int m_nImageWidth = 0;                    ///< width of the current map picture in pixels
    int m_nImageHeight = 0;                   ///< height of the current map picture in pixels
    int m_nInputOption = 0;                   ///< 0 decimal degrees, 1 degrees, minutes and seconds
    double m_dUnitFactor = 0.3048;            ///< metres per distance unit: 0.3048 feet, 1.0 metres
    QString m_strWorkspacePath;               ///< workspace file last chosen for saving or opening
    QString m_strMapPath;                     ///< map file as chosen, or as stored in a TIFF workspace
    CPicture m_Picture;                       ///< the map picture of every kind but TIFF
    std::unique_ptr<QImage> m_pViewBitmap;    ///< the client area as last painted
    CDataGeo m_GeoOrigin;                     ///< south-west corner of the map
    CDataGeo m_GeoExtent;                     ///< latitude and longitude spans of the map
    CDataGeo m_FrameOrigin;                   ///< south-west corner of the displayed frame
    CDataGeo m_FrameExtent;                   ///< spans of the displayed frame
    std::vector<CDataGeo> m_ControlPoints;    ///< control points in entry order
    QByteArray m_MapFileData;                 ///< exact bytes of the map picture file
    int m_nMapFileSize = 0;                   ///< bytes of the picture file as last read or written
    /// The geo-coding model, c0 to c15: pixel column = c0 * lat + c1 * lon + c3 and pixel row =
    /// c4 * lat + c5 * lon + c7, latitude and longitude in decimal degrees, rows from the top.
    /// The other ten slots are carried through files unchanged.
    std::array<double, 16> m_dGeoCoef{};

    /// The main frame's active view, through which document commands reach the view's state
    /// (its window, image choice, GeoTIFF frame and output range). Null while no view is shown.
    ViewState* m_pActiveView = nullptr;

private:
    /// Loads m_strMapPath as a map of kind m_nMapType (picture, TIFF or unsupported).
    void LoadMap();
    void LoadPictureMap();
    void LoadTiffMap();

    QString m_strTitle;
    std::vector<CView*> m_Views;
};
