#pragma once
// Every text the examinee sees is Japanese, also the ones Qt and the browser
// engine provide themselves (the print dialog, standard buttons, form hints).
class QCoreApplication;

namespace brevik {

// Makes Japanese the default locale, so the browser engine starts in Japanese.
// Call it before the QApplication is created.
void UseJapaneseLocale();

// Loads Qt's own Japanese translations into app. Returns false (and says why
// on stderr) when they are not installed; Qt then speaks English.
bool InstallQtTranslations(QCoreApplication& app);

} // namespace brevik
