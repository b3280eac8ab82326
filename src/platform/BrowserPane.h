#pragma once
// An embedded HTML pane (wbMain, wbQuestion...). Every call returns only after
// the engine has answered; a failing call throws PaneError.
#include <QString>

class QWidget;

namespace brevik {

class BrowserPane {
public:
    virtual ~BrowserPane() = default;

    // The widget to place in a window. Placement (Left, Width, Height,
    // Visible) goes through it, in pixels.
    virtual QWidget* widget() = 0;

    // "about:blank" or the full path of a file below the data folder.
    virtual void Navigate2(const QString& url) = 0;
    virtual void Refresh() = 0;
    // Document write: the string becomes the rendered document; its form
    // fields can be found by name as soon as this returns.
    virtual void Write(const QString& html) = 0;

    // Elements by name (id as fallback); index selects the n-th element that
    // shares the name, -1 means none given. A missing element throws.
    virtual QString Value(const QString& name, int index = -1) = 0;
    virtual void SetValue(const QString& name, const QString& value, int index = -1) = 0;
    virtual void Focus(const QString& name, int index = -1) = 0;

    // ExecWB print with option 0: the system print dialog for the current
    // document (through DialogHost::printDialog), then the print.
    virtual void Print() = 0;

    // While the pane's window is off the screen: gives up what the pane holds
    // in the engine (its renderer, its pixels). The pane is empty then; the
    // next call brings an empty document back first.
    virtual void releaseRenderer() {}
};

} // namespace brevik
