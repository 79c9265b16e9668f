#pragma once

#include "view/core/ViewHost.h"

/// A window that is never shown: the view's document update runs against it as it runs against
/// the real one, so that a TIFF map gets the image choice and GeoTIFF frame it gets there.
class HeadlessHost : public ViewHost {
public:
    QSize ClientSize() const override { return {1024, 768}; }
    void Invalidate() override {}
    void InvalidateFeedback(const QRect&) override {}
    void SetCapture() override {}
    void ReleaseCapture() override {}
    void SetPaneText(const QString&, int) override {}
    int TextHeight() const override { return 16; }
};
