#include "flash/lineview/http/Reply.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quenta::flash {

Reply errorReply(int status, const QString &reason) {
    return {status,
            "application/json",
            QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
                .toJson(QJsonDocument::Compact),
            {},
            {}};
}

} // namespace quenta::flash
