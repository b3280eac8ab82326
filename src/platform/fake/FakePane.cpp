#include "platform/fake/FakePane.h"

#include "platform/Errors.h"

namespace brevik {

void FakePane::Navigate2(const QString& u) {
    calls << QStringLiteral("navigate ") + u;
    url = u;
    document.clear();
    elements.clear();
}

void FakePane::Write(const QString& html) {
    calls << QStringLiteral("write");
    document += html;
}

QString& FakePane::element(const QString& name, int index) {
    auto it = elements.find(name);
    const int i = index < 0 ? 0 : index;
    if (it == elements.end() || i >= it->size())
        throw PaneError(QStringLiteral("no element named %1").arg(name));
    return (*it)[i];
}

QString FakePane::Value(const QString& name, int index) {
    return element(name, index);
}

void FakePane::SetValue(const QString& name, const QString& value, int index) {
    element(name, index) = value;
}

void FakePane::Focus(const QString& name, int index) {
    element(name, index);
    focused = index < 0 ? name : QStringLiteral("%1[%2]").arg(name).arg(index);
}

} // namespace brevik
