#pragma once
#include "app/AppState.h"

namespace brevik {

class frmKaikei;
class frmMain;

// Ends the exam: builds the result page, reports the result (outside a
// rehearsal), shows the page in the main window with the last phase's
// caption and the print button, and unloads the exam screen. Runs once per
// run; a later call returns at once.
void end_syori(AppState& st, frmKaikei& exam, frmMain& main);

} // namespace brevik
