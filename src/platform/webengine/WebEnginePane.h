#pragma once
// The real browser pane: a QWebEngineView whose page keeps the examinee on the
// exam's content. Every call waits in a local event loop, for a bounded time,
// until the engine has answered.
#include "platform/BrowserPane.h"
#include "platform/Services.h"

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebEnginePage>

#include <memory>

class QLabel;
class QTemporaryFile;
class QWebEngineView;

namespace brevik {

class DialogHost;

// Owns the pane's rules: navigation only to about:blank and to files below the
// data folder, no form submissions, no new windows, no file choosers.
// contentFolders: where the data folder's links lead (the installed copy's
// content), whose files may be shown too.
class ExamPage : public QWebEnginePage {
    Q_OBJECT
public:
    ExamPage(const QString& dataFolder, QObject* parent,
             const QStringList& contentFolders = QStringList());

    // Lets the next written document (a data: URL) in.
    void allowNextWrite() { allowWrite_ = true; }
    // Whether url is about:blank or an existing file below the data folder.
    bool isAllowed(const QUrl& url) const;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;

private:
    QString dataFolder_;         // canonical, ends in "/"
    QStringList contentFolders_; // the same
    bool allowWrite_ = false;
};

class WebEnginePane : public BrowserPane {
public:
    // dataFolder is strDataPath (ends in "/"); dialogs shows the print dialog.
    WebEnginePane(QWidget* parent, const QString& dataFolder, DialogHost* dialogs,
                  const QStringList& contentFolders = QStringList());
    ~WebEnginePane() override;

    QWidget* widget() override;
    void Navigate2(const QString& url) override;
    void Refresh() override;
    void Write(const QString& html) override;
    QString Value(const QString& name, int index = -1) override;
    void SetValue(const QString& name, const QString& value, int index = -1) override;
    void Focus(const QString& name, int index = -1) override;
    void Print() override;
    void releaseRenderer() override;

    // Longest wait for one answer of the engine (default 15 s).
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    // Runs script in the page and returns its result (for tests and diagnostics).
    QVariant evaluate(const QString& script);

private:
    void requireView() const;
    // A released page gets its renderer and an empty document back.
    void wake();
    // The page's renderer process is gone (crashed, killed when memory ran
    // short): a notice for the examinee over the pane, a line on stderr, and
    // the document is loaded again (at most kMaxReloads times per pane).
    void rendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int code);
    static constexpr int kMaxReloads = 3;
    void load(const std::function<void()>& start, const QString& what);
    QVariant element(const QString& op, const QString& name, int index, const QString& value = {});

    QPointer<QWebEngineView> view_; // the parent window may have deleted it
    ExamPage* page_;
    DialogHost* dialogs_;
    QString dataFolder_;
    QString written_;                       // the written document so far; empty after a navigation
    std::unique_ptr<QTemporaryFile> spill_; // holds a written document too big to pass inline
    bool crashed_ = false;
    bool waking_ = false;
    bool starting_ = false; // the first, empty document is on its way
    int reloads_ = 0;
    QPointer<QLabel> notice_; // shown while the pane has lost its renderer
    int timeoutMs_ = 15000;
};

// A factory for Services::makePane.
PaneFactory webEnginePaneFactory(const QString& dataFolder, DialogHost* dialogs,
                                 const QStringList& contentFolders = QStringList());

} // namespace brevik
