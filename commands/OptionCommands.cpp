#include "commands/OptionCommands.h"

#include "document/CQuilletDoc.h"
#include "platform/UiServices.h"

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr int kUnitFeet = 0;
constexpr int kUnitMeter = 1;

} // namespace

void OnShowPoints(CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        doc.SetShowPoints(!doc.ShowPoints());
}

void OnSelectUnit(CQuilletDoc& doc)
{
    ComboChoice choice;
    choice.m_nSelection = doc.UnitFactor() > 0.5 ? kUnitMeter : kUnitFeet;
    if (Ui().RunSelectUnitDialog(choice) != IDOK)
        return;
    // Nothing is repainted: the next read-out uses the new factor.
    doc.SetUnitFactor(choice.m_nSelection == kUnitFeet ? kMetresPerFoot : 1.0);
}

void OnInputOptions(CQuilletDoc& doc)
{
    ComboChoice choice;
    choice.m_nSelection = static_cast<int>(doc.InputOption());
    if (Ui().RunInputOptionsDialog(choice) == IDOK)
        doc.SetInputOption(static_cast<InputNotation>(choice.m_nSelection));
}

void OnSelectImages(CQuilletDoc& doc)
{
    if (doc.Images().size() < 2)
        return;
    ImageChoice choice;
    choice.m_nSelection = doc.CurrentImage();
    choice.m_nImageCount = static_cast<int>(doc.Images().size());
    if (Ui().RunSelectImageDialog(choice) != IDOK || choice.m_nSelection == doc.CurrentImage())
        return;
    CWaitCursor wait;
    doc.SelectImage(choice.m_nSelection);
}
