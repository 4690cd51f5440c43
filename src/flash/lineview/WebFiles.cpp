#include "flash/lineview/WebFiles.h"

#include <QFile>

namespace quenta::flash {
namespace {

struct Entry {
    const char *path;
    const char *resource;
    const char *contentType;
    bool needsToken;
};

constexpr Entry kFiles[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8", true},
    {"/line.js", ":/web/line.js", "text/javascript; charset=utf-8", false},
    {"/line.css", ":/web/line.css", "text/css; charset=utf-8", false},
    {"/icon.svg", ":/web/icon.svg", "image/svg+xml", false},
};

} // namespace

std::optional<WebFile> webFile(const QString &path) {
    for (const Entry &entry : kFiles) {
        if (path != QLatin1String(entry.path)) {
            continue;
        }
        QFile file(QLatin1String(entry.resource));
        if (!file.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        return WebFile{entry.contentType, file.readAll(), entry.needsToken};
    }
    return std::nullopt;
}

} // namespace quenta::flash
