#include "platform/webengine/WebEnginePane.h"

#include "platform/DialogHost.h"
#include "platform/Errors.h"
#include "platform/ScreenFont.h"

#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>
#include <memory>

namespace brevik {

namespace {

// setHtml() goes through a percent-encoded data: URL, which the engine caps at
// 2 MB; larger documents are passed through a file.
constexpr qsizetype kDataUrlLimit = 2 * 1024 * 1024 - 4096;

QString canonicalFolder(const QString& folder) {
    QString path = QFileInfo(folder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return path.endsWith(u'/') ? path : path + u'/';
}

bool isBlank(const QUrl& url) {
    return url.scheme() == u"about" && url.path() == u"blank";
}

// What one wait in a local event loop ended with. Shared with the callbacks,
// which may still arrive after the wait has given up.
struct WaitState {
    QEventLoop loop;
    bool started = false;
    bool done = false;
    bool crashed = false;
    bool ok = false;
    QVariant result;
    void finish() {
        done = true;
        loop.quit();
    }
};

// Runs state's loop until finish() or the time is up; returns whether finished.
bool waitFor(WaitState& state, int timeoutMs) {
    if (state.done)
        return true;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &state.loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    state.loop.exec(QEventLoop::ExcludeUserInputEvents);
    return state.done;
}

} // namespace

ExamPage::ExamPage(const QString& dataFolder, QObject* parent, const QStringList& contentFolders)
    : QWebEnginePage(parent), dataFolder_(canonicalFolder(dataFolder)) {
    for (const QString& f : contentFolders)
        if (QFileInfo(f).isDir())
            contentFolders_ << canonicalFolder(f);
}

bool ExamPage::isAllowed(const QUrl& url) const {
    if (isBlank(url))
        return true;
    if (!url.isLocalFile())
        return false;
    const QFileInfo file(url.toLocalFile());
    const QString path = file.canonicalFilePath(); // resolves "..", "//" and links
    if (!file.isFile())
        return false;
    if (path.startsWith(dataFolder_))
        return true;
    for (const QString& f : contentFolders_)
        if (path.startsWith(f))
            return true;
    return false;
}

bool ExamPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // A written document arrives as a data: URL; only the pane itself sends one.
    if (isMainFrame && allowWrite_ && url.scheme() == u"data") {
        allowWrite_ = false;
        return true;
    }
    // The program reads the forms by element name; a submit would only replace them.
    if (type == NavigationTypeFormSubmitted)
        return false;
    return isAllowed(url);
}

QWebEnginePage* ExamPage::createWindow(WebWindowType) {
    return nullptr;
}

QStringList ExamPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
    return {};
}

WebEnginePane::WebEnginePane(QWidget* parent, const QString& dataFolder, DialogHost* dialogs,
                             const QStringList& contentFolders)
    : view_(new QWebEngineView(parent)), page_(new ExamPage(dataFolder, view_, contentFolders)),
      dialogs_(dialogs), dataFolder_(dataFolder) {
    view_->setPage(page_);
    view_->setContextMenuPolicy(Qt::NoContextMenu);

    QWebEngineSettings* s = page_->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    for (auto action :
         {QWebEnginePage::InspectElement, QWebEnginePage::ViewSource, QWebEnginePage::SavePage,
          QWebEnginePage::DownloadLinkToDisk, QWebEnginePage::DownloadImageToDisk,
          QWebEnginePage::DownloadMediaToDisk, QWebEnginePage::OpenLinkInNewWindow,
          QWebEnginePage::OpenLinkInNewTab, QWebEnginePage::OpenLinkInNewBackgroundTab})
        page_->action(action)->setEnabled(false);

    QObject::connect(page_->profile(), &QWebEngineProfile::downloadRequested, page_,
                     [page = page_](QWebEngineDownloadRequest* download) {
                         if (download->page() == page)
                             download->cancel();
                     });
    QObject::connect(page_, &QWebEnginePage::renderProcessTerminated, page_,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                         starting_ = false;
                         rendererEnded(status, code);
                     });
    QObject::connect(page_, &QWebEnginePage::loadFinished, page_, [this](bool ok) {
        if (ok && notice_) {
            crashed_ = false;
            notice_->hide();
        }
    });
    // No way back: a step back would replace the form the program reads with an
    // older document (about:blank never asks acceptNavigationRequest).
    QObject::connect(page_, &QWebEnginePage::loadFinished, page_,
                     [page = page_] { page->history()->clear(); });

    // An empty document, asked for now and waited for only by the first call:
    // the engine starts the page's renderer while the window around it is built.
    QObject::connect(page_, &QWebEnginePage::loadFinished, page_, [this] { starting_ = false; });
    starting_ = true;
    page_->load(QUrl(QStringLiteral("about:blank")));
}

WebEnginePane::~WebEnginePane() {
    delete view_.get();
}

void WebEnginePane::requireView() const {
    if (!view_)
        throw PaneError(QStringLiteral("the pane's window has already been closed"));
}

QWidget* WebEnginePane::widget() {
    return view_;
}

namespace {
// Keeps the notice over the whole pane.
class FillParent : public QObject {
public:
    explicit FillParent(QWidget* w) : QObject(w), w_(w) {
        w->parentWidget()->installEventFilter(this);
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == w_->parentWidget() && e->type() == QEvent::Resize)
            w_->setGeometry(w_->parentWidget()->rect());
        return false;
    }

private:
    QWidget* w_;
};

const char* statusText(QWebEnginePage::RenderProcessTerminationStatus status) {
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        return "ended";
    case QWebEnginePage::AbnormalTerminationStatus:
        return "ended abnormally";
    case QWebEnginePage::CrashedTerminationStatus:
        return "crashed";
    case QWebEnginePage::KilledTerminationStatus:
        return "was killed (by the system's out-of-memory killer, if memory ran short)";
    }
    return "ended";
}
} // namespace

void WebEnginePane::rendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int code) {
    crashed_ = true;
    if (!view_ || page_->lifecycleState() == QWebEnginePage::LifecycleState::Discarded)
        return;
    const QString what = !written_.isEmpty()     ? QStringLiteral("a written document")
                         : isBlank(page_->url()) ? QStringLiteral("about:blank")
                                                 : page_->url().toLocalFile();
    const bool again = reloads_ < kMaxReloads;
    std::fprintf(stderr,
                 "brevik: the web engine's process showing %s %s (exit code %d); the pane "
                 "shows a notice to the examinee%s\n",
                 qPrintable(what), statusText(status), code,
                 again ? " and loads its document again" : "");
    if (!notice_) {
        notice_ = new QLabel(view_);
        notice_->setText(QStringLiteral("この画面を表示できなくなりました。\n"
                                        "パソコンのメモリが足りない可能性があります。\n\n"
                                        "試験監督者にお知らせください。"));
        notice_->setAlignment(Qt::AlignCenter);
        notice_->setWordWrap(true);
        notice_->setFont(ScreenFont(kPGothic, 14));
        notice_->setAutoFillBackground(true);
        QPalette p = notice_->palette();
        p.setColor(QPalette::Window, Qt::white);
        p.setColor(QPalette::WindowText, Qt::black);
        notice_->setPalette(p);
        new FillParent(notice_);
    }
    notice_->setGeometry(view_->rect());
    notice_->show();
    notice_->raise();
    if (!again)
        return;
    ++reloads_;
    // Outside the signal: the engine is still taking the old process down.
    QTimer::singleShot(0, page_, [this] {
        if (page_->lifecycleState() == QWebEnginePage::LifecycleState::Discarded)
            return;
        if (spill_) {
            page_->load(QUrl::fromLocalFile(spill_->fileName()));
        } else if (!written_.isEmpty()) {
            page_->allowNextWrite();
            page_->setHtml(written_, QUrl::fromLocalFile(canonicalFolder(dataFolder_)));
        } else {
            page_->load(page_->url().isEmpty() ? QUrl(QStringLiteral("about:blank"))
                                               : page_->url());
        }
    });
}

void WebEnginePane::releaseRenderer() {
    requireView();
    // The engine keeps a page that is shown: only a hidden one is let go.
    if (view_->isVisible() || page_->lifecycleState() == QWebEnginePage::LifecycleState::Discarded)
        return;
    // Coming back, the page loads its last address again: let that be an empty one.
    if (!written_.isEmpty() || !isBlank(page_->url()))
        Navigate2(QStringLiteral("about:blank"));
    page_->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
}

void WebEnginePane::wake() {
    if (starting_) {
        // The empty document asked for when the pane was made: wait for it,
        // so that its signals are not taken for those of the next load.
        WaitState state;
        QObject::connect(page_, &QWebEnginePage::loadFinished, &state.loop,
                         [&state] { state.finish(); });
        QObject::connect(page_, &QWebEnginePage::renderProcessTerminated, &state.loop,
                         [&state] { state.finish(); });
        const bool done = waitFor(state, timeoutMs_);
        starting_ = false;
        if (!done)
            throw PaneError(QStringLiteral("the pane's first (empty) document did not load "
                                           "within %1 ms")
                                .arg(timeoutMs_));
    }
    if (page_->lifecycleState() != QWebEnginePage::LifecycleState::Discarded)
        return;
    // Back to active, the page loads its last address (about:blank) again.
    waking_ = true;
    try {
        load([&] { page_->setLifecycleState(QWebEnginePage::LifecycleState::Active); },
             QStringLiteral("bringing the page back"));
    } catch (...) {
        waking_ = false;
        throw;
    }
    waking_ = false;
}

void WebEnginePane::load(const std::function<void()>& start, const QString& what) {
    requireView();
    if (!waking_)
        wake();
    // Every connection ends with the loop, so the state can live on the stack.
    WaitState state;
    QObject::connect(page_, &QWebEnginePage::loadStarted, &state.loop,
                     [&state] { state.started = true; });
    // A load still running from before may report first: wait for ours.
    QObject::connect(page_, &QWebEnginePage::loadFinished, &state.loop, [&state](bool ok) {
        if (!state.started)
            return;
        state.ok = ok;
        state.finish();
    });
    QObject::connect(page_, &QWebEnginePage::renderProcessTerminated, &state.loop, [&state] {
        state.crashed = true;
        state.finish();
    });
    crashed_ = false;
    start();
    if (!waitFor(state, timeoutMs_))
        throw PaneError(QStringLiteral("%1: the page did not finish loading within %2 ms")
                            .arg(what)
                            .arg(timeoutMs_));
    if (state.crashed)
        throw PaneError(QStringLiteral("%1: the page's renderer process ended").arg(what));
    if (!state.ok)
        throw PaneError(QStringLiteral("%1: the page could not be loaded").arg(what));
}

void WebEnginePane::Navigate2(const QString& url) {
    QUrl target;
    if (url.compare(u"about:blank", Qt::CaseInsensitive) == 0)
        target = QUrl(QStringLiteral("about:blank"));
    else if (url.startsWith(u"file:", Qt::CaseInsensitive))
        target = QUrl(url);
    else
        target = QUrl::fromLocalFile(url);
    if (!page_->isAllowed(target))
        throw PaneError(
            QStringLiteral("Navigate2 refused: %1 is neither about:blank nor a file below %2")
                .arg(url, dataFolder_));
    const QUrl current = page_->url();
    if (target.hasFragment() && written_.isEmpty() &&
        target.adjusted(QUrl::RemoveFragment) == current.adjusted(QUrl::RemoveFragment)) {
        // A jump within the shown document loads nothing, so there is no load to wait for.
        const QJsonObject hash{{QStringLiteral("h"), target.fragment(QUrl::FullyEncoded)}};
        evaluate(QStringLiteral("location.hash = (%1).h")
                     .arg(QString::fromUtf8(QJsonDocument(hash).toJson(QJsonDocument::Compact))));
        return;
    }
    written_.clear();
    spill_.reset();
    load([&] { page_->load(target); }, QStringLiteral("Navigate2 %1").arg(url));
}

void WebEnginePane::Refresh() {
    requireView();
    const QUrl current = page_->url();
    if (written_.isEmpty() && page_->isAllowed(current) && !isBlank(current)) {
        load([&] { page_->triggerAction(QWebEnginePage::Reload); }, QStringLiteral("Refresh"));
        return;
    }
    // A written document has no source to reload from: it becomes empty again.
    Navigate2(QStringLiteral("about:blank"));
}

void WebEnginePane::Write(const QString& html) {
    requireView();
    written_ += html;
    const QByteArray utf8 = written_.toUtf8();
    const QString folder = canonicalFolder(dataFolder_);
    if (utf8.toPercentEncoding().size() < kDataUrlLimit) {
        spill_.reset();
        load(
            [&] {
                page_->allowNextWrite();
                page_->setHtml(written_, QUrl::fromLocalFile(folder));
            },
            QStringLiteral("Write"));
        return;
    }
    // Too big for a data: URL: the document goes through a file in the data
    // folder, so that its relative addresses resolve the same way.
    auto spill = std::make_unique<QTemporaryFile>(folder + QStringLiteral(".written-XXXXXX.html"));
    const QByteArray bom("\xEF\xBB\xBF");
    if (!spill->open() || spill->write(bom + utf8) != bom.size() + utf8.size() || !spill->flush())
        throw PaneError(QStringLiteral("Write: a document of %1 bytes needs a file in %2, which "
                                       "cannot be written: %3")
                            .arg(utf8.size())
                            .arg(folder, spill->errorString()));
    spill->close();
    const QUrl url = QUrl::fromLocalFile(spill->fileName());
    spill_ = std::move(spill);
    load([&] { page_->load(url); }, QStringLiteral("Write"));
}

QVariant WebEnginePane::evaluate(const QString& script) {
    requireView();
    wake();
    if (crashed_)
        throw PaneError(QStringLiteral("the page's renderer process has ended"));
    auto state = std::make_shared<WaitState>();
    // The script's answer may come after we gave up: it shares the state.
    QObject::connect(page_, &QWebEnginePage::renderProcessTerminated, &state->loop,
                     [s = state.get()] {
                         s->crashed = true;
                         s->finish();
                     });
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld, [state](const QVariant& v) {
        state->result = v;
        state->ok = true;
        state->finish();
    });
    if (!waitFor(*state, timeoutMs_))
        throw PaneError(
            QStringLiteral("the page did not answer a script within %1 ms").arg(timeoutMs_));
    if (state->crashed)
        throw PaneError(QStringLiteral("the page's renderer process ended"));
    return state->result;
}

// One operation on the element named name (id as fallback), the index-th of
// those sharing the name. Arguments travel as JSON, so any value is safe.
QVariant WebEnginePane::element(const QString& op, const QString& name, int index,
                                const QString& value) {
    static const QString script = QStringLiteral(R"JS((function(a){
var list = Array.from(document.getElementsByName(a.name));
if (list.length === 0)
  list = Array.from(document.querySelectorAll('[id]')).filter(function(e){return e.id === a.name;});
var i = a.index < 0 ? 0 : a.index;
if (i >= list.length) return {error: 'missing'};
var e = list[i];
if (a.op === 'focus') { e.focus(); return {value: ''}; }
if (!('value' in e)) return {error: 'novalue'};
if (a.op === 'set') e.value = a.value;
return {value: String(e.value)};
})(%1))JS");
    const QJsonObject args{{QStringLiteral("op"), op},
                           {QStringLiteral("name"), name},
                           {QStringLiteral("index"), index},
                           {QStringLiteral("value"), value}};
    const QVariantMap r =
        evaluate(script.arg(QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact))))
            .toMap();
    const QString where = index < 0 ? name : QStringLiteral("%1(%2)").arg(name).arg(index);
    const QString error = r.value(QStringLiteral("error")).toString();
    if (error == u"missing")
        throw PaneError(QStringLiteral("the document has no element %1").arg(where));
    if (error == u"novalue")
        throw PaneError(QStringLiteral("element %1 has no value").arg(where));
    if (!r.contains(QStringLiteral("value")))
        throw PaneError(QStringLiteral("element %1: the page gave no answer").arg(where));
    return r.value(QStringLiteral("value"));
}

QString WebEnginePane::Value(const QString& name, int index) {
    return element(QStringLiteral("get"), name, index).toString();
}

void WebEnginePane::SetValue(const QString& name, const QString& value, int index) {
    element(QStringLiteral("set"), name, index, value);
}

void WebEnginePane::Focus(const QString& name, int index) {
    view_->setFocus(Qt::OtherFocusReason);
    element(QStringLiteral("focus"), name, index);
}

void WebEnginePane::Print() {
    requireView();
    wake();
    if (crashed_)
        throw PaneError(QStringLiteral("Print: the page's renderer process has ended"));
    // The engine paints into the printer after print() returns; a print that
    // outlives our wait keeps its printer until the engine is done with it.
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    if (!dialogs_ || !dialogs_->printDialog(*printer))
        return;
    auto state = std::make_shared<WaitState>();
    auto keep = std::make_shared<QMetaObject::Connection>();
    *keep = QObject::connect(view_, &QWebEngineView::printFinished, view_,
                             [state, printer, keep](bool ok) mutable {
                                 QObject::disconnect(*keep);
                                 state->ok = ok;
                                 state->finish();
                                 printer.reset();
                             });
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        // The view's print() sends page images; to a file the engine's own PDF
        // keeps the text.
        QObject::disconnect(*keep);
        const QString file = printer->outputFileName();
        QObject::connect(page_, &QWebEnginePage::pdfPrintingFinished, &state->loop,
                         [s = state.get(), file](const QString& path, bool ok) {
                             if (path != file)
                                 return;
                             s->ok = ok;
                             s->finish();
                         });
        page_->printToPdf(file, printer->pageLayout(), printer->pageRanges());
    } else {
        view_->print(printer.get());
    }
    if (!waitFor(*state, std::max(timeoutMs_, 60000)))
        throw PaneError(QStringLiteral("Print: the document was not printed within the wait"));
    if (!state->ok)
        throw PaneError(QStringLiteral("Print: the engine could not print the document"));
}

PaneFactory webEnginePaneFactory(const QString& dataFolder, DialogHost* dialogs,
                                 const QStringList& contentFolders) {
    return [dataFolder, dialogs, contentFolders](QWidget* parent) -> std::unique_ptr<BrowserPane> {
        return std::make_unique<WebEnginePane>(parent, dataFolder, dialogs, contentFolders);
    };
}

} // namespace brevik
