#pragma once
#include <QDateTime>
#include <QStringList>
#include <optional>

namespace brevik {

// "yyyy/MM/dd hh:mm" in local time, as the launch list and the result page write it.
QString MinuteStamp(const QDateTime& t);

// The launch list: the argument text split at every ",", or the rehearsal
// list built with the time now when the text is empty.
QStringList BuildLaunchList(const QString& argumentText, const QDateTime& now);

// Characters [first, first+count) counted from 1, clipped to the text like
// the string function the launch values have always been read with.
QString Mid(const QString& text, int first, int count);

// A number rounded to the nearest 32-bit integer, halves to even; nullopt
// when it does not fit (or is no number at all). Every number the program
// reads from a launch item or a server reply is rounded this one way.
std::optional<qint32> RoundToInt32(double value);

// The launch id as a 32-bit number: the number at the start of the id text, a
// fraction rounded half to even, 0 when the text starts with no number.
// Throws std::overflow_error when the number does not fit in 32 bits.
qint32 LaunchIdNumber(const QString& idText);

} // namespace brevik
