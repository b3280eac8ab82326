#include "platform/AppRoles.h"

#include <QFile>

#include <unistd.h>

namespace brevik {

namespace {

QString withoutSuffix(const QString& id) {
    return id.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive) ? id.chopped(8) : id;
}

} // namespace

AppRoles RolesFromCategories(const QString& categories) {
    static const QHash<QString, AppRole> kCategory = {
        {QStringLiteral("WebBrowser"), AppRole::WebBrowser},
        {QStringLiteral("Email"), AppRole::Email},
        {QStringLiteral("Spreadsheet"), AppRole::Spreadsheet},
        {QStringLiteral("WordProcessor"), AppRole::WordProcessor},
        {QStringLiteral("Database"), AppRole::Database},
        {QStringLiteral("TextEditor"), AppRole::TextEditor},
        {QStringLiteral("FileManager"), AppRole::FileManager},
    };
    AppRoles roles = 0;
    for (const QString& c : categories.split(u';', Qt::SkipEmptyParts))
        if (auto it = kCategory.constFind(c.trimmed()); it != kCategory.cend())
            roles |= roleBit(*it);
    return roles;
}

QString ProcessExecutable(qint64 pid) {
    if (pid <= 0)
        return {};
    char buf[4096];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    QString path = QFile::decodeName(QByteArray(buf, int(n)));
    // A program replaced on disk while it runs reads "... (deleted)".
    if (path.endsWith(QLatin1String(" (deleted)")))
        path.chop(10);
    return path;
}

RoleTable::RoleTable(qint64 ownPid, OperatorRoles rules)
    : ownPid_(ownPid), rules_(std::move(rules)), executableOf_(&ProcessExecutable) {}

void RoleTable::add(const DesktopEntry& e) {
    const QString id = e.id.toLower();
    if (auto it = ids_.find(id); it != ids_.end()) {
        *it |= e.roles;
    } else {
        ids_.insert(id, e.roles);
        idCase_.insert(id, e.id);
    }
    if (!e.startupWMClass.isEmpty()) {
        QStringList& ids = byWmClass_[e.startupWMClass.toLower()];
        if (!ids.contains(id))
            ids << id;
    }
    if (!e.program.isEmpty()) {
        QStringList& ids = byProgram_[e.program];
        if (!ids.contains(id))
            ids << id;
    }
}

QStringList RoleTable::entryFor(const WindowFacts& w) const {
    // Every entry that the hints, a StartupWMClass or the class as an id
    // names: a window never loses a role because another entry claims it too.
    QStringList ids;
    auto take = [&](const QString& id) {
        if (!ids.contains(id))
            ids << id;
    };
    for (const QString& hint : {w.appId, w.desktopFile})
        if (const QString id = withoutSuffix(hint).toLower(); !id.isEmpty() && ids_.contains(id))
            take(id);
    const QString cls = w.windowClass.toLower(), inst = w.instance.toLower();
    for (const QString& c : {cls, inst}) {
        if (c.isEmpty())
            continue;
        if (auto it = byWmClass_.constFind(c); it != byWmClass_.cend())
            for (const QString& id : *it)
                take(id);
        if (ids_.contains(c))
            take(c);
    }
    // The process's executable only when nothing else names an entry.
    if (ids.isEmpty() && w.pid > 0 && !byProgram_.isEmpty())
        if (const QString exe = executableOf_(w.pid); !exe.isEmpty())
            ids = byProgram_.value(exe);
    return ids;
}

RoleTable::Match RoleTable::match(const WindowFacts& w) const {
    if (w.pid > 0 && w.pid == ownPid_)
        return {};
    Match m;
    const QStringList ids = entryFor(w);
    for (const QString& id : ids)
        m.roles |= ids_.value(id);
    if (!ids.isEmpty())
        m.entryId = idCase_.value(ids.first());
    if (rules_.added.isEmpty() && rules_.exempt.isEmpty())
        return m;
    QStringList names = ids;
    for (const QString& n : {w.appId, w.desktopFile, w.instance, w.windowClass})
        if (!n.isEmpty())
            names << withoutSuffix(n).toLower();
    for (const QString& n : names)
        if (rules_.exempt.contains(n))
            return {0, m.entryId};
    for (const QString& n : names)
        m.roles |= rules_.added.value(n);
    return m;
}

} // namespace brevik
