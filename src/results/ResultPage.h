#pragma once
// The result page: the result template with the examinee's details, the
// fixed points and the pass or fail image.
#include "app/AppState.h"

namespace brevik {

// Fills slot 6 of the screen templates; sets the point values in st. The
// image is the pass image from a total of 70 on.
QString BuildResultPage(AppState& st, const QString& startTime, bool& blnPass);

// Text as it goes into a page: & < > " ' as character references, so that it
// shows as written in element content and in quoted attribute values.
QString EscapeHtml(const QString& text);

// The placeholder replacements from the total on, for a given total.
QString FinishResultPage(const AppState& st, QString page, qint16 total, bool& blnPass);

} // namespace brevik
