#pragma once
#include <QDateTime>
#include <QStringList>

namespace brevik {

// "yyyy/MM/dd hh:mm" in local time, as the launch list and the result page write it.
QString MinuteStamp(const QDateTime& t);

// The launch list: the argument text split at every ",", or the rehearsal
// list built with the time now when the text is empty.
QStringList BuildLaunchList(const QString& argumentText, const QDateTime& now);

// Characters [first, first+count) counted from 1, clipped to the text like
// the string function the launch values have always been read with.
QString Mid(const QString& text, int first, int count);

} // namespace brevik
