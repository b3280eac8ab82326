#include "Examinee.h"

#include "platform/Twips.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <limits>

namespace brevik::test {

void Examinee::pause(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

Examinee::Client Examinee::waitWindow(const std::function<bool(const Client&)>& match,
                                      int timeoutMs) {
    QElapsedTimer t;
    t.start();
    do {
        for (const Client& c : x.clients()) {
            if (c.pid != quint32(pid_) || !c.mapped || !match(c))
                continue;
            // The window manager frames and places a new window in steps, and
            // the program places it again once it knows the frame: wait until
            // it has held still for a while, as a person would.
            Client last = c;
            for (int still = 0, i = 0; still < 5 && i < 60; ++i) {
                pause(150);
                const Client c2 = x.client(c.id);
                still = c2.geometry == last.geometry && c2.frame == last.frame ? still + 1 : 0;
                last = c2;
            }
            return last;
        }
        pause(50);
    } while (t.elapsed() < timeoutMs);
    return {};
}

Examinee::Client Examinee::waitTitled(const QString& title, int timeoutMs) {
    return waitWindow([&](const Client& c) { return c.title == title; }, timeoutMs);
}

Examinee::Client Examinee::waitExamScreen(int timeoutMs) {
    return waitWindow([](const Client& c) { return c.title.isEmpty() && c.geometry.width() > 800; },
                      timeoutMs);
}

bool Examinee::waitGone(quint32 id, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    do {
        const auto order = x.stacking();
        if (std::find(order.begin(), order.end(), id) == order.end())
            return true;
        pause(50);
    } while (t.elapsed() < timeoutMs);
    return false;
}

::testing::AssertionResult Examinee::hasFocus(const Client& w) {
    const QString why = x.whyNotFocused(w.id, pause);
    if (why.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << why.toStdString();
}

::testing::AssertionResult Examinee::isAnswerable(const Client& box, const Client& owner) {
    if (!box.id)
        return ::testing::AssertionFailure() << "no such box: " << x.describe().toStdString();
    const QString why = x.whyNotAnswerable(box.id, owner.id, pause);
    if (why.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << why.toStdString();
}

void Examinee::clickAt(const Client& w, QPoint clientPos) {
    x.click(now(w).geometry.topLeft() + clientPos);
}

void Examinee::click(const Client& w, QPoint (*where)(const Client&)) {
    const Client c = now(w);
    x.click(c.geometry.topLeft() + where(c));
}

QImage Examinee::grab(const Client& w, QRect r) {
    return x.grab(r.translated(now(w).geometry.topLeft()));
}

int Examinee::difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return a.size() == b.size() ? 0 : std::numeric_limits<int>::max();
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            n += (pa[x] & 0xffffff) != (pb[x] & 0xffffff);
    }
    return n;
}

bool Examinee::waitChanged(const Client& w, QRect r, const QImage& before, int timeoutMs,
                           int minPixels) {
    QElapsedTimer t;
    t.start();
    QImage now;
    do {
        pause(100);
        now = grab(w, r);
    } while (difference(now, before) < minPixels && t.elapsed() < timeoutMs);
    if (difference(now, before) < minPixels)
        return false;
    // Changed: wait until it holds still (a page paints in several steps).
    for (QImage last; t.elapsed() < timeoutMs; now = grab(w, r)) {
        if (now == last)
            return true;
        last = now;
        pause(250);
    }
    return true;
}

void Examinee::waitStill(const Client& w, QRect r, int stillMs, int timeoutMs) {
    QElapsedTimer t, still;
    t.start();
    still.start();
    QImage last = grab(w, r);
    while (still.elapsed() < stillMs && t.elapsed() < timeoutMs) {
        pause(50);
        const QImage now = grab(w, r);
        if (now != last)
            still.restart();
        last = now;
    }
}

QPoint Examinee::command1(const Client& main) {
    const QRect outer = main.outer();
    // Centred on the outer width, 88 px above the window's bottom edge; 153 x 45.
    return {(outer.width() - 153) / 2 + 76, outer.height() - 88 + 22};
}

QPoint Examinee::cmdPrint(const Client& main) {
    // 160 twips from the left, as high as Command1; 113 x 41.
    return {px(160) + 56, main.outer().height() - 88 + 20};
}

QPoint Examinee::cmdMondai(const Client& exam, int index) {
    // 1900 x 615 twips, 100 twips apart, 950 twips above the bottom.
    const int left = px(100 + index * 2000), top = px(twips(exam.geometry.height()) - 950);
    return {left + px(1900) / 2, top + px(615) / 2};
}

QPoint Examinee::examEnd(const Client& exam) {
    // 89 x 33, 120 px from the right and 60 px from the bottom.
    return {exam.geometry.width() - 120 + 44, exam.geometry.height() - 60 + 16};
}

QRect Examinee::questionPane(const Client& exam) {
    return {0, 0, exam.geometry.width(), exam.geometry.height() - px(1060)};
}

} // namespace brevik::test
