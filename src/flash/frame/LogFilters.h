#pragma once

#include "flash/frame/Settings.h"

#include <QString>

namespace quenta::flash {

// The filters of the journal that log's options and the view's query parameters share, read from
// text into the query: empty when the text is right, else what is wrong with it, to follow the
// filter's name ("must be ...").
QString readSinceFilter(const QString &text, LogQuery &query);
QString readResultFilter(const QString &text, LogQuery &query);
QString readSerialFilter(const QString &text, LogQuery &query);

} // namespace quenta::flash
