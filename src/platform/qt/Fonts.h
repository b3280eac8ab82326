#pragma once
// The screens name the fonts "ＭＳ Ｐゴシック" and "ＭＳ ゴシック"; they render with
// IPAPGothic and IPAGothic, in widgets and in the browser panes.
#include <QString>

namespace brevik {

// Points fontconfig at configFile (default: fonts.conf beside the running
// program), which includes the system's configuration and aliases the two
// names, and adds the same substitutions to QFont. Call it before the
// QApplication is created, so that the engine's processes inherit it.
// Returns false (and says why on stderr) when the file is missing; the widget
// substitutions are made all the same.
bool InstallFontSubstitutes(const QString& configFile = {});

} // namespace brevik
