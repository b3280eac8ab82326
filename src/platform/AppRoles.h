#pragma once
// What other applications are for, as their desktop entries say, and which
// entry a window belongs to. Knows no window system: a desktop implementation
// feeds it what it knows of a window (its desktop-file hints, classes, pid).
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace brevik {

// The roles the guard cares about, one bit each (desktop-entry categories).
enum class AppRole : quint8 {
    WebBrowser = 1,
    Email = 2,
    Spreadsheet = 4,
    WordProcessor = 8,
    Database = 16,
    TextEditor = 32,
    FileManager = 64,
};
using AppRoles = quint8;
constexpr AppRoles roleBit(AppRole r) {
    return AppRoles(r);
}

// Roles from a desktop entry's Categories value ("Network;WebBrowser;").
AppRoles RolesFromCategories(const QString& categories);

// What a desktop knows of one top-level window.
struct WindowFacts {
    QString appId;       // the application's own id hint (_GTK_APPLICATION_ID; Wayland's app_id)
    QString desktopFile; // the desktop-file hint (_KDE_NET_WM_DESKTOP_FILE)
    QString instance, windowClass; // WM_CLASS
    qint64 pid = 0;                // 0: unknown, or a process on another machine
    bool operator==(const WindowFacts&) const = default;
};

// One desktop entry, as far as matching needs it.
struct DesktopEntry {
    QString id;             // "org.gnome.gedit": path below applications/, "/" as "-"
    AppRoles roles = 0;     // from Categories
    QString startupWMClass; // empty: none
    QString program;        // TryExec, else Exec's program, as a canonical path; empty: none
};

// The venue's own word (setting.ini): names added to a role, names exempted.
// A name is a window class or instance, an application-id hint or a
// desktop-entry id, compared without regard to case.
struct OperatorRoles {
    QHash<QString, AppRoles> added; // lower-case name -> roles
    QSet<QString> exempt;           // lower-case names
    bool operator==(const OperatorRoles&) const = default;
};

class RoleTable {
public:
    // ownPid: the program's own process, whose windows never match.
    explicit RoleTable(qint64 ownPid = 0, OperatorRoles rules = {});

    // Entries added later count as copies of earlier ones with the same id:
    // their roles add up, so a copy in the user's folder never takes one away.
    void add(const DesktopEntry& e);
    int entryCount() const { return int(ids_.size()); }

    struct Match {
        AppRoles roles = 0;
        QString entryId; // the entry the window belongs to; empty: none
    };
    // The entries as desktop shells find them: the window's hints, the
    // entries' StartupWMClass, the class and instance as an entry id (the
    // roles of every entry so named add up), and only when none of these
    // names one, the executable of the window's process. The operator's
    // names then add roles, or an exemption takes every role away.
    Match match(const WindowFacts& w) const;

    // The canonical executable of a process, empty when it cannot be read
    // (tests replace it).
    using ExecutableOf = QString (*)(qint64 pid);
    void setExecutableOf(ExecutableOf f) { executableOf_ = f; }

private:
    QStringList entryFor(const WindowFacts& w) const;

    qint64 ownPid_;
    OperatorRoles rules_;
    QHash<QString, AppRoles> ids_;          // lower-case id -> roles
    QHash<QString, QString> idCase_;        // lower-case id -> id as first seen
    QHash<QString, QStringList> byWmClass_; // lower-case StartupWMClass -> ids
    QHash<QString, QStringList> byProgram_; // canonical path -> ids
    ExecutableOf executableOf_;
};

// The executable a process runs (/proc/PID/exe), empty when not readable.
QString ProcessExecutable(qint64 pid);

} // namespace brevik
