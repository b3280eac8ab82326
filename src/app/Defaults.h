#pragma once
// Values fixed in the program. The database password is never shown, logged
// or read from a settings file.
#include <QString>

namespace brevik {

// The main window's title once loaded, also the title of the program's own notices.
inline QString ProgramTitle() {
    return QStringLiteral("ヴァルネルドリン　体験プログラム");
}

inline constexpr char kUserAgent[] = "tolvapc";
inline constexpr char kDbPassword[] = "Kq7#vR2m!xT9zLw4"; // 16 ASCII characters
inline constexpr char kRegisterPath[] = "/api/grade/register";
inline constexpr char kResultPath[] = "/api/grade/result";

// The notice of a folder the program cannot use, with that folder.
inline QString FolderErrorTitle() {
    return QStringLiteral("フォルダ作成エラー");
}
inline QString FolderErrorText(const QString& folder) {
    return QStringLiteral("作業フォルダを作成できません。\r\n") + folder;
}

// The three question files written into the data folder for the exam
// screen, and the pattern that finds them (and nothing else of ours) there.
inline QString QuestionFile(int k) {
    return k == 0 ? QStringLiteral("index.html") : QStringLiteral("index%1.html").arg(k + 1);
}
inline constexpr int kQuestionFiles = 3;
inline QString QuestionFilePattern() {
    return QStringLiteral("index*.html");
}

} // namespace brevik
