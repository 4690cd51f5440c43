#pragma once

#include "flash/lineview/http/Reply.h"

#include <QByteArray>

namespace quenta::flash {

// How an answer's body is delimited on the wire.
enum class BodyFraming {
    Length,  // Content-Length: the body is whole
    Chunked, // HTTP/1.1: the body goes on in chunks, the last one empty
    Close,   // HTTP/1.0: the body ends where the connection does
};

// The status line and headers of `reply`, ended by the empty line: the headers every answer of the
// view carries, which keep a browser from running or framing anything but the page's own files,
// then its own, its type, the framing (with `length` for BodyFraming::Length) and
// "Connection: close" when `closes`.
QByteArray answerHead(const Reply &reply, BodyFraming framing, qsizetype length, bool closes);

// `bytes` as one chunk; the last chunk, which ends the body, for none.
QByteArray chunk(const QByteArray &bytes);

} // namespace quenta::flash
