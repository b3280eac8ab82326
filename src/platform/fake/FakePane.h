#pragma once
// A pane without a browser engine, for unit tests of code that reads and
// writes form fields: elements are a map from name to values.
#include "platform/BrowserPane.h"

#include <QMap>
#include <QStringList>
#include <QWidget>

namespace brevik {

class FakePane : public BrowserPane {
public:
    explicit FakePane(QWidget* parent = nullptr) : widget_(new QWidget(parent)) {}

    QMap<QString, QStringList> elements; // name -> values of the elements sharing it
    QString document;                    // what Write() left
    QString url = QStringLiteral("about:blank");
    QString focused;   // "name" or "name[index]"
    QStringList calls; // "navigate URL", "refresh", "write", "print"

    QWidget* widget() override { return widget_; }
    void Navigate2(const QString& u) override;
    void Refresh() override { calls << QStringLiteral("refresh"); }
    void Write(const QString& html) override;
    QString Value(const QString& name, int index = -1) override;
    void SetValue(const QString& name, const QString& value, int index = -1) override;
    void Focus(const QString& name, int index = -1) override;
    void Print() override { calls << QStringLiteral("print"); }

private:
    QString& element(const QString& name, int index);
    QWidget* widget_;
};

} // namespace brevik
