#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quenta::flash {

// A file of the page, from the program's resources.
struct WebFile {
    QByteArray contentType;
    QByteArray body;
    bool needsToken = false; // the page itself; its script, style and icon hold no data
};

// The file served at `path` ("/" is the page); none for any other path.
std::optional<WebFile> webFile(const QString &path);

} // namespace quenta::flash
