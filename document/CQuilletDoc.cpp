#include "document/CQuilletDoc.h"

#include "fitting/GeoFit.h"
#include "platform/CCmdUI.h"
#include "platform/CView.h"
#include "platform/UiServices.h"

#include <algorithm>

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr int kUnitFeet = 0;
constexpr int kUnitMeter = 1;

} // namespace

CQuilletDoc::CQuilletDoc() = default;

CQuilletDoc::~CQuilletDoc()
{
    // Release what the document owns in the reverse order of its fields.
    m_pViewBitmap.reset();
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

void CQuilletDoc::OnShowPoints()
{
    if (m_bMapLoaded)
        m_bShowPoints = !m_bShowPoints;
    UpdateAllViews(nullptr);
}

void CQuilletDoc::OnUpdateShowPoints(CCmdUI& cmdUI) const
{
    cmdUI.Enable(m_bMapLoaded != 0);
    if (m_bMapLoaded)
        cmdUI.SetCheck(m_bShowPoints);
}

void CQuilletDoc::OnSelectUnit()
{
    ComboChoice choice;
    choice.m_nSelection = m_dUnitFactor > 0.5 ? kUnitMeter : kUnitFeet;
    if (Ui().RunSelectUnitDialog(choice) != IDOK)
        return;
    // Nothing is repainted: the next read-out uses the new factor.
    m_dUnitFactor = choice.m_nSelection == kUnitFeet ? kMetresPerFoot : 1.0;
}

void CQuilletDoc::ComputeProjection()
{
    const GeoFitResult fit = ComputeGeoFit(m_ControlPoints, m_nImageWidth, m_nImageHeight, m_dGeoCoef, m_bGeoCoded);
    m_bGeoCoded = fit.m_bGeoCoded;
    m_dGeoCoef = fit.m_dGeoCoef;
    // A repaint, not a full update: a full update of a TIFF map recomputes the geo-coding from
    // the GeoTIFF record and would withdraw the model just fitted.
    UpdateAllViews(nullptr, kHintRepaint);
    if (fit.m_Message)
        Ui().MessageBox(fit.m_Message->m_strText, fit.m_Message->m_strCaption, fit.m_Message->m_nType);
}

void CQuilletDoc::SetPictureFrame()
{
    m_GeoOrigin = {0.0, 0.0, 0.0, 0.0};
    m_GeoExtent = {1.0, 1.0, 0.0, 0.0};
    m_FrameOrigin = {0.0, 0.0, 0.0, 0.0};
    m_FrameExtent = {1.0, 1.0, 0.0, 0.0};
}
