#pragma once
// Screen templates and question documents from the two data files.
#include "app/AppState.h"

namespace brevik {

// Fills arrScreenHtml slots 1..6 from qfile.dat; on failure shows the
// data-file failure dialog and returns false.
bool LoadScreenTemplates(AppState& st);

// Writes index.html, index2.html, index3.html into strDataPath from exam.dat.
void WriteQuestionFiles(AppState& st);

} // namespace brevik
