#pragma once
// The check behind "登録": reads the registration form out of the pane,
// fills the sample record into an empty form, applies the rules in order and
// leaves the normalised examinee record in AppState.
#include "app/AppState.h"

#include <QStringList>

namespace brevik {

class BrowserPane;

// Names of the form's elements, in the order the check reads them.
const QStringList& registrationFields();

// True: every rule passed and st.rec, st.strRomaFamilyName and
// st.strRomaGivenName hold the record. False: one rule failed; its message
// was shown in frmEntryMiss and the focus put on the element it names.
// Skip-on-error: a missing element skips the steps that use it.
bool RunFormCheck(AppState& st, BrowserPane& wbMain);

} // namespace brevik
